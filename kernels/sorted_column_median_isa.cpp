// The sorted-column median (see sorted_column_median.h) for one instruction
// set; the build compiles this file once per set, with MK_ISA_NS and
// MK_VECTOR_BYTES defined.

#include "compiled_networks.h"
#include "flipped_words.h"
#include "isa_kernels.h"
#include "median3x3.h"
#include "network_median.h"
#include "sorted_column_median.h"
#if !MK_SCALAR_FALLBACK
#include "sorted_column_steps.h"
#endif

namespace mediankernels::MK_ISA_NS {

namespace {

#if !MK_SCALAR_FALLBACK

// Calls f(position) over `count` positions, at least one vector's: whole
// vectors, the last one overlapping its predecessor. From one call site, so
// that f's network is compiled in once.
template <int Lanes, typename F>
inline void forEachVector(int count, F f) {
    for (int x = 0;; x += Lanes) {
        const bool last = x + Lanes >= count;
        f(last ? count - Lanes : x);
        if (last) return;
    }
}

// Whether all `count` floats at `floats` are non-negative and none is NaN:
// then their bits as integers are in the median order.
inline bool plainFloats(const unsigned char* floats, int count) {
    using U = typename VectorOf<uint32_t, MK_VECTOR_BYTES>::Type;
    constexpr int kLanes = VectorOf<uint32_t, MK_VECTOR_BYTES>::kLanes;
    U most{};
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        U bits;
        std::memcpy(&bits, floats + 4 * i, sizeof bits);
        most = most < bits ? bits : most;
    }
    uint32_t largest = 0;
    for (; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, floats + 4 * i, sizeof bits);
        largest = largest < bits ? bits : largest;
    }
    uint32_t lanes[kLanes];
    std::memcpy(lanes, &most, sizeof lanes);
    for (uint32_t lane : lanes) largest = largest < lane ? lane : largest;
    return largest <= 0x7F800000u;
}

// T is the element type, or OrderedFloat for floats, whose lines are
// filtered as the int32_t keys OrderedFloat describes (or as the floats'
// bits where those rank the same).
template <typename T, int MW, int MH>
struct SortedColumns {
    static constexpr const SortedColumnTable& kNet = kSortedColumnNetwork<MW, MH>;
    using Key = typename Lanes<T, 0>::Key;
    // Keys go out as they are; for floats see runFloats.
    using L = Lanes<Key, MK_VECTOR_BYTES>;
    static constexpr std::ptrdiff_t kSize = sizeof(Key);

    // Sorts the columns at x of the lines `lines` and writes the used ranks
    // to the buffer rows, rank i at sorted + i * rowBytes.
    // Inlined (it has one call site).
    [[gnu::always_inline]] static void sortColumns(const unsigned char* const* lines,
                                                   unsigned char* sorted, std::size_t rowBytes,
                                                   int x) {
        typename L::V v[MH];
        for (int i = 0; i < MH; ++i) v[i] = L::load(lines[i] + x * kSize);
        if constexpr (std::is_same_v<T, FlippedWord>) {
            for (int i = 0; i < MH; ++i) v[i] ^= std::numeric_limits<int16_t>::min();
        }
        SortedColumnSteps<MW, MH>::sortColumn(v);
        for (int i = 0; i < MH; ++i) {
            if (kNet.rankUsed[i]) std::memcpy(sorted + i * rowBytes + x * kSize, &v[i], sizeof v[i]);
        }
    }

    template <std::size_t... I>
    static void loadWindow(typename L::V* v, const unsigned char* sorted, std::size_t rowBytes,
                           int x, std::index_sequence<I...>) {
        ((kNet.rankUsed[I / MW]
              ? void(v[I] = L::load(sorted + (I / MW) * rowBytes + (x + int(I % MW)) * kSize))
              : void()),
         ...);
    }

    [[gnu::always_inline]] static void inlineMedians(const unsigned char* sorted,
                                                     std::size_t rowBytes, unsigned char* dst,
                                                     int x) {
        typename L::V v[MW * MH]{};
        loadWindow(v, sorted, rowBytes, x, std::make_index_sequence<MW * MH>());
        SortedColumnSteps<MW, MH>::select(v);
        L::store(dst + x * kSize, v[kNet.output]);
    }
    [[gnu::noinline]] static void calledMedians(const unsigned char* sorted, std::size_t rowBytes,
                                                unsigned char* dst, int x) {
        inlineMedians(sorted, rowBytes, dst, x);
    }
    // Larger networks run faster as a call (measured with AVX-512: 5 x 5 and
    // up lost 5 to 20 % inlined, 3 x 3 up to 30 % as a call). The called
    // network reads and writes keys only, so one copy serves every element
    // type with the same keys (flipped unsigned words use the signed one).
    static void medians(const unsigned char* sorted, std::size_t rowBytes, unsigned char* dst,
                        int x) {
        if constexpr (kNet.size <= 40) {
            static_assert(!std::is_same_v<T, FlippedWord>, "flipped words need the called network");
            inlineMedians(sorted, rowBytes, dst, x);
        } else {
            SortedColumns<Key, MW, MH>::calledMedians(sorted, rowBytes, dst, x);
            // Flipped words go out as the unsigned words they stand for. Each
            // call writes all its lanes afresh, so the last, overlapping
            // vector of a line is flipped once too.
            if constexpr (std::is_same_v<T, FlippedWord>) {
                unsigned char* at = dst + x * kSize;
                L::store(at, L::load(at) ^ std::numeric_limits<int16_t>::min());
            }
        }
    }

    // One output line, at least one vector wide, from the source lines
    // `lines`, in chunks, fetching the source line `next` (if any) into the
    // cache on the way.
    static void line(const unsigned char* const* lines, const unsigned char* next,
                     unsigned char* sorted, unsigned char* out, int width) {
        constexpr std::size_t kRowBytes = kSortedColumnLineStride;
        constexpr int kChunkColumns = kSortedColumnLineBytes / kSize;
        // Chunks start 64 bytes apart, so that their loads and stores keep
        // the alignment of the lines.
        constexpr int kStep = kChunkColumns - 64 / kSize;
        static_assert(MW - 1 <= 64 / kSize && kStep >= 2 * L::kCount);
        for (int x0 = 0; x0 < width;) {
            int outputs = width - x0 < kStep ? width - x0 : kStep;
            // No chunk narrower than a vector: the one before the last
            // leaves the last a whole one.
            if (width - x0 - outputs > 0 && width - x0 - outputs < L::kCount) {
                outputs = width - x0 - L::kCount;
            }
            const unsigned char* chunk[MH];
            for (int i = 0; i < MH; ++i) chunk[i] = lines[i] + x0 * kSize;
            if (next != nullptr) {
                for (int at = 0; at < (outputs + MW - 1) * kSize; at += 64) {
                    __builtin_prefetch(next + x0 * kSize + at);
                }
            }
            forEachVector<L::kCount>(outputs + MW - 1,
                                     [&](int x) { sortColumns(chunk, sorted, kRowBytes, x); });
            forEachVector<L::kCount>(
                outputs, [&](int x) { medians(sorted, kRowBytes, out + x0 * kSize, x); });
            x0 += outputs;
        }
    }

    static void run(const MedianJob& job, unsigned char* scratch) {
        for (int y = 0; y < job.height; ++y) {
            const unsigned char* lines[MH];
            for (int i = 0; i < MH; ++i) lines[i] = job.origin + (y + i) * job.srcStep;
            const unsigned char* next =
                y + 1 < job.height ? job.origin + (y + MH) * job.srcStep : nullptr;
            line(lines, next, scratch, job.dst + y * job.dstStep, job.width);
        }
    }

    // Floats whose bits read as integers already rank in the median order
    // (every one non-negative and none NaN, as in most pictures) are filtered
    // as they are. Windows that meet others take keys (OrderedFloat), made
    // once per element: the last MH source lines' keys are kept in a ring,
    // and the output line is turned from keys into floats at the end.
    static void runFloats(const MedianJob& job, unsigned char* scratch) {
        unsigned char* ring = scratch + MH * kSortedColumnLineStride;
        const std::size_t keyStride = sortedColumnKeyStride(job.width, MW);
        const int columns = job.width + MW - 1;
        bool plain[MH];     // per ring slot: its source line reads as integers
        int keyedLine[MH];  // per ring slot: the source line whose keys it holds
        const auto enter = [&](int at) {
            plain[at % MH] = plainFloats(job.origin + at * job.srcStep, columns);
            keyedLine[at % MH] = -1;
        };
        for (int i = 0; i < MH - 1; ++i) enter(i);
        for (int y = 0; y < job.height; ++y) {
            enter(y + MH - 1);
            const unsigned char* next =
                y + 1 < job.height ? job.origin + (y + MH) * job.srcStep : nullptr;
            bool allPlain = true;
            for (bool p : plain) allPlain = allPlain && p;
            const unsigned char* lines[MH];
            unsigned char* out = job.dst + y * job.dstStep;
            for (int i = 0; i < MH; ++i) {
                if (allPlain) {
                    lines[i] = job.origin + (y + i) * job.srcStep;
                    continue;
                }
                unsigned char* keys = ring + (y + i) % MH * keyStride;
                if (keyedLine[(y + i) % MH] != y + i) {
                    orderedFloatKeys(job.origin + (y + i) * job.srcStep, columns,
                                     reinterpret_cast<int32_t*>(keys));
                    keyedLine[(y + i) % MH] = y + i;
                }
                lines[i] = keys;
            }
            // One call, so that the networks are compiled in once.
            line(lines, next, scratch, out, job.width);
            if (allPlain) continue;
            // Each key once: the conversion is its own inverse.
            int x = 0;
            for (; x + L::kCount <= job.width; x += L::kCount) {
                Lanes<OrderedFloat, MK_VECTOR_BYTES>::store(out + x * kSize,
                                                            L::load(out + x * kSize));
            }
            for (; x < job.width; ++x) {
                Lanes<OrderedFloat, 0>::store(out + x * kSize,
                                              Lanes<int32_t, 0>::load(out + x * kSize));
            }
        }
    }
};

// Whether lane-wise min / max of T's keys take several instructions each
// (32-bit lanes on x86-64 before SSE4.1; 16-bit unsigned words go there as
// signed ones, see flipped_words.h).
template <typename T>
inline constexpr bool kEmulatedMinMax =
#if defined(__x86_64__) && !defined(__SSE4_1__)
    MK_VECTOR_BYTES > 0 && std::is_same_v<T, OrderedFloat>;
#else
    false;
#endif

// Whether unsigned 16-bit windows of `count` elements go through the signed
// kernels' window networks as FlippedWord: each column is flipped once as it
// is sorted and each output as it is written, a few instructions against the
// hundreds of the network, whose copy for unsigned words is then not
// compiled. Windows below 9 x 9 keep their own: the flips cost 7 x 7 a few
// per cent of its network.
template <typename T>
inline constexpr bool kSharedWordNetworks =
#if defined(__x86_64__)
    MK_VECTOR_BYTES > 0 && !kWordsAsSigned && std::is_same_v<T, uint16_t>;
#else
    false;
#endif
inline constexpr int kSmallestSharedWordNetwork = 81;

template <typename T, std::size_t... I>
void dispatch(const MedianJob& job, unsigned char* scratch, std::index_sequence<I...>) {
    const auto one = [&](auto shape) {
        constexpr int kWidth = kSortedColumnShapes[shape].width;
        constexpr int kHeight = kSortedColumnShapes[shape].height;
        using Element = std::conditional_t<kSharedWordNetworks<T> &&
                                               kWidth * kHeight >= kSmallestSharedWordNetwork,
                                           FlippedWord, T>;
        using Kernel = SortedColumns<Element, kWidth, kHeight>;
        if constexpr (MK_VECTOR_BYTES > 0 && kWidth == 3 && kHeight == 3) {
            median3x3<T>(job);
        } else if constexpr (kEmulatedMinMax<T> && kWidth * kHeight >= 81) {
            // Chosen only on request: fastMedian takes the sorted blocks there.
            scalar::sortedColumnMedian<T>(job, scratch);
        } else if constexpr (std::is_same_v<T, OrderedFloat>) {
            Kernel::runFloats(job, scratch);
        } else {
            Kernel::run(job, scratch);
        }
    };
    ((kSortedColumnShapes[I].width == job.maskWidth &&
              kSortedColumnShapes[I].height == job.maskHeight
          ? one(std::integral_constant<std::size_t, I>())
          : void()),
     ...);
}

#else

template <std::size_t... I>
const SortedColumnTable& sortedColumnTable(int maskWidth, int maskHeight,
                                           std::index_sequence<I...>) {
    const SortedColumnTable* found = &kSortedColumnNetwork<3, 3>;
    ((kSortedColumnShapes[I].width == maskWidth && kSortedColumnShapes[I].height == maskHeight
          ? void(found = &kSortedColumnNetwork<kSortedColumnShapes[I].width,
                                               kSortedColumnShapes[I].height>)
          : void()),
     ...);
    return *found;
}

// This build serves only regions narrower than a vector (and the scalar
// cap): each output sorts its window's columns and selects from them with
// the tables in loops, every comparator exchanging both ways (a half that
// pruning dropped writes a wire nothing reads again).
template <typename T>
void tableSortedColumns(const MedianJob& job, const SortedColumnTable& net) {
    using S = Lanes<T, 0>;
    using Key = typename S::Key;
    const int mw = net.maskWidth, mh = net.maskHeight;
    const auto keyAt = [&](const unsigned char* p) {
        Key k;
        std::memcpy(&k, p, sizeof k);
        if constexpr (std::is_same_v<T, OrderedFloat>) {
            k = (k & 0x7FFFFFFF) > 0x7F800000 ? 0x7FC00000 : k;
            k ^= (k >> 31) & 0x7FFFFFFF;
        }
        return k;
    };
    for (int y = 0; y < job.height; ++y) {
        for (int x = 0; x < job.width; ++x) {
            Key window[kMaxSortedColumnWires];
            for (int j = 0; j < mw; ++j) {
                Key column[kMaxSortedColumnExtent];
                for (int i = 0; i < mh; ++i) {
                    column[i] = keyAt(job.origin + (y + i) * job.srcStep +
                                      static_cast<std::ptrdiff_t>(x + j) * sizeof(Key));
                }
                for (int c = 0; c < net.columnSortSize; ++c) {
                    compareExchange(column[net.columnSort[c].low], column[net.columnSort[c].high]);
                }
                for (int i = 0; i < mh; ++i) window[i * mw + j] = column[i];
            }
            for (int c = 0; c < net.size; ++c) {
                compareExchange(window[net.comparators[c].low], window[net.comparators[c].high]);
            }
            S::store(job.dst + y * job.dstStep + static_cast<std::ptrdiff_t>(x) * sizeof(Key),
                     window[net.output]);
        }
    }
}

#endif

}  // namespace

template <typename T>
void sortedColumnMedian(const MedianJob& job, void* scratch) {
#if MK_SCALAR_FALLBACK
    (void)scratch;
    tableSortedColumns<T>(
        job, sortedColumnTable(job.maskWidth, job.maskHeight,
                               std::make_index_sequence<kSortedColumnShapeCount>()));
#else
    if constexpr (kWordsAsSigned && std::is_same_v<T, uint16_t>) {
        if (job.maskWidth == 3 && job.maskHeight == 3 &&
            job.width >= Lanes<int16_t, MK_VECTOR_BYTES>::kCount) {
            return median3x3<FlippedWord>(job);
        }
        flippedWordMedian(job, [&](const MedianJob& part, const std::ptrdiff_t*) {
            sortedColumnMedian<int16_t>(part, scratch);
        });
    } else {
        // Regions narrower than a vector go to the scalar build: compiling every
        // network a second time on single lanes here would double this file's
        // build time for the rarest shapes.
        if constexpr (MK_VECTOR_BYTES > 0) {
            using Key = typename Lanes<T, 0>::Key;
            if (job.width < Lanes<Key, MK_VECTOR_BYTES>::kCount) {
                return scalar::sortedColumnMedian<T>(job, scratch);
            }
        }
        // For OrderedFloat the source holds the floats themselves.
        dispatch<T>(job, static_cast<unsigned char*>(scratch),
                    std::make_index_sequence<kSortedColumnShapeCount>());
    }
#endif
}

template void sortedColumnMedian<uint8_t>(const MedianJob&, void*);
template void sortedColumnMedian<uint16_t>(const MedianJob&, void*);
template void sortedColumnMedian<int16_t>(const MedianJob&, void*);
template void sortedColumnMedian<OrderedFloat>(const MedianJob&, void*);

}  // namespace mediankernels::MK_ISA_NS
