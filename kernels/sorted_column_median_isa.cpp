// The sorted-column median (see sorted_column_median.h) for one instruction
// set; the build compiles this file once per set, with MK_ISA_NS and
// MK_VECTOR_BYTES defined.

#include "isa_kernels.h"
#include "network_median.h"
#include "sorted_column_median.h"
#include "sorted_column_network.h"

namespace mediankernels::MK_ISA_NS {

namespace {

template <const SortedColumnNetwork& Net, typename V, std::size_t... I>
inline void sortColumn([[maybe_unused]] V* v, std::index_sequence<I...>) {
    (compareExchange<Net.columnSort[I].kind>(v[Net.columnSort[I].low], v[Net.columnSort[I].high]),
     ...);
}

template <const SortedColumnNetwork& Net, typename V, std::size_t... I>
inline void selectMedian([[maybe_unused]] V* v, std::index_sequence<I...>) {
    (compareExchange<Net.comparators[I].kind>(v[Net.comparators[I].low],
                                              v[Net.comparators[I].high]),
     ...);
}

// Calls f(position, lanes) over `count` positions: whole vectors, the last
// one overlapping its predecessor, or single lanes when not even one vector fits.
template <typename T, typename F>
inline void forEachVector(int count, F f) {
    using W = Lanes<T, MK_VECTOR_BYTES>;
    using S = Lanes<T, 0>;
    if (count >= W::kCount) {
        int x = 0;
        for (; x + W::kCount <= count; x += W::kCount) f(x, W{});
        if (x < count) f(count - W::kCount, W{});
        return;
    }
    for (int x = 0; x < count; ++x) f(x, S{});
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

template <typename T, int MW, int MH>
struct SortedColumns {
    static constexpr const SortedColumnNetwork& kNet = kSortedColumnNetwork<MW, MH>;
    static constexpr std::ptrdiff_t kSize = sizeof(typename Lanes<T, 0>::Key);

    // Sorts the columns at x of the lines `lines` and writes the used ranks
    // to the buffer rows, rank i at sorted + i * rowBytes.
    template <typename L>
    static void sortColumns(const unsigned char* const* lines, unsigned char* sorted,
                            std::size_t rowBytes, int x) {
        typename L::V v[MH];
        for (int i = 0; i < MH; ++i) v[i] = L::load(lines[i] + x * kSize);
        sortColumn<kNet>(v, std::make_index_sequence<kNet.columnSortSize>());
        for (int i = 0; i < MH; ++i) {
            if (kNet.rankUsed[i]) std::memcpy(sorted + i * rowBytes + x * kSize, &v[i], sizeof v[i]);
        }
    }

    template <typename L, std::size_t... I>
    static void loadWindow(typename L::V* v, const unsigned char* sorted, std::size_t rowBytes,
                           int x, std::index_sequence<I...>) {
        const auto one = [&](auto wire) {
            constexpr int kRank = decltype(wire)::value / MW, kColumn = decltype(wire)::value % MW;
            if constexpr (kNet.rankUsed[kRank]) {
                v[wire] = L::load(sorted + kRank * rowBytes + (x + kColumn) * kSize);
            }
        };
        (one(std::integral_constant<std::size_t, I>()), ...);
    }

    template <typename L>
    static void medians(const unsigned char* sorted, std::size_t rowBytes, unsigned char* dst,
                        int x) {
        typename L::V v[MW * MH]{};
        loadWindow<L>(v, sorted, rowBytes, x, std::make_index_sequence<MW * MH>());
        selectMedian<kNet>(v, std::make_index_sequence<kNet.size>());
        L::store(dst + x * kSize, v[kNet.output]);
    }

    // One output line from the source lines `lines`, in chunks, fetching
    // the source line `next` (if any) into the cache on the way.
    template <typename Element>
    static void line(const unsigned char* const* lines, const unsigned char* next,
                     unsigned char* sorted, unsigned char* out, int width) {
        constexpr std::size_t kRowBytes = kSortedColumnLineStride;
        constexpr int kChunkColumns = kSortedColumnLineBytes / kSize;
        // Chunks start 64 bytes apart, so that their loads and stores keep
        // the alignment of the lines.
        constexpr int kStep = kChunkColumns - 64 / kSize;
        static_assert(MW - 1 <= 64 / kSize);
        for (int x0 = 0; x0 < width; x0 += kStep) {
            const int outputs = width - x0 < kStep ? width - x0 : kStep;
            const unsigned char* chunk[MH];
            for (int i = 0; i < MH; ++i) chunk[i] = lines[i] + x0 * kSize;
            if (next != nullptr) {
                for (int at = 0; at < (outputs + MW - 1) * kSize; at += 64) {
                    __builtin_prefetch(next + x0 * kSize + at);
                }
            }
            forEachVector<Element>(outputs + MW - 1, [&](int x, auto lanes) {
                sortColumns<decltype(lanes)>(chunk, sorted, kRowBytes, x);
            });
            forEachVector<Element>(outputs, [&](int x, auto lanes) {
                medians<decltype(lanes)>(sorted, kRowBytes, out + x0 * kSize, x);
            });
        }
    }

    static void run(const MedianJob& job, unsigned char* scratch) {
        for (int y = 0; y < job.height; ++y) {
            const unsigned char* lines[MH];
            for (int i = 0; i < MH; ++i) lines[i] = job.origin + (y + i) * job.srcStep;
            const unsigned char* next =
                y + 1 < job.height ? job.origin + (y + MH) * job.srcStep : nullptr;
            line<T>(lines, next, scratch, job.dst + y * job.dstStep, job.width);
        }
    }

    // Floats whose bits read as integers already rank in the median order
    // (every one non-negative and none NaN, as in most pictures) are filtered
    // as they are. Windows that meet others take keys (OrderedFloat), made
    // once per element: the last MH source lines' keys are kept in a ring.
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
            if (allPlain) {
                for (int i = 0; i < MH; ++i) lines[i] = job.origin + (y + i) * job.srcStep;
                line<int32_t>(lines, next, scratch, out, job.width);
                continue;
            }
            for (int i = 0; i < MH; ++i) {
                unsigned char* keys = ring + (y + i) % MH * keyStride;
                if (keyedLine[(y + i) % MH] != y + i) {
                    orderedFloatKeys(job.origin + (y + i) * job.srcStep, columns,
                                     reinterpret_cast<int32_t*>(keys));
                    keyedLine[(y + i) % MH] = y + i;
                }
                lines[i] = keys;
            }
            line<OrderedFloat>(lines, next, scratch, out, job.width);
        }
    }
};

template <typename T, std::size_t... I>
void dispatch(const MedianJob& job, unsigned char* scratch, std::index_sequence<I...>) {
    const auto one = [&](auto shape) {
        using Kernel = SortedColumns<T, kSortedColumnShapes[shape].width,
                                     kSortedColumnShapes[shape].height>;
        if constexpr (std::is_same_v<T, OrderedFloat>) {
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

}  // namespace

template <typename T>
void sortedColumnMedian(const MedianJob& job, void* scratch) {
    // For OrderedFloat the source holds the floats themselves.
    dispatch<T>(job, static_cast<unsigned char*>(scratch),
                std::make_index_sequence<sizeof kSortedColumnShapes / sizeof kSortedColumnShapes[0]>());
}

template void sortedColumnMedian<uint8_t>(const MedianJob&, void*);
template void sortedColumnMedian<uint16_t>(const MedianJob&, void*);
template void sortedColumnMedian<int16_t>(const MedianJob&, void*);
template void sortedColumnMedian<OrderedFloat>(const MedianJob&, void*);

}  // namespace mediankernels::MK_ISA_NS
