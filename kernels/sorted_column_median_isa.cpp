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

    // The region in strips of kSortedColumnChunk outputs, each from top to
    // bottom. Floats are turned into keys once per element: a strip keeps
    // the keys of its last MH source lines in a ring.
    static void run(const MedianJob& job, unsigned char* scratch) {
        constexpr bool kFloat = std::is_same_v<T, OrderedFloat>;
        const std::size_t rowBytes = sortedColumnRowBytes(MW);
        unsigned char* sorted = scratch;
        unsigned char* ring = scratch + MH * rowBytes;
        for (int x0 = 0; x0 < job.width; x0 += kSortedColumnChunk) {
            const int outputs =
                job.width - x0 < kSortedColumnChunk ? job.width - x0 : kSortedColumnChunk;
            const int columns = outputs + MW - 1;
            const unsigned char* src = job.origin + x0 * kSize;
            const auto toKeys = [&](int line) {
                orderedFloatKeys(src + line * job.srcStep, columns,
                                 reinterpret_cast<int32_t*>(ring + line % MH * rowBytes));
            };
            if constexpr (kFloat) {
                for (int i = 0; i < MH - 1; ++i) toKeys(i);
            }
            for (int y = 0; y < job.height; ++y) {
                const unsigned char* lines[MH];
                if constexpr (kFloat) {
                    toKeys(y + MH - 1);
                    for (int i = 0; i < MH; ++i) lines[i] = ring + (y + i) % MH * rowBytes;
                } else {
                    for (int i = 0; i < MH; ++i) lines[i] = src + (y + i) * job.srcStep;
                }
                forEachVector<T>(columns, [&](int x, auto lanes) {
                    sortColumns<decltype(lanes)>(lines, sorted, rowBytes, x);
                });
                unsigned char* out = job.dst + y * job.dstStep + x0 * kSize;
                forEachVector<T>(outputs, [&](int x, auto lanes) {
                    medians<decltype(lanes)>(sorted, rowBytes, out, x);
                });
            }
        }
    }
};

template <typename T, std::size_t... I>
void dispatch(const MedianJob& job, unsigned char* rows, std::index_sequence<I...>) {
    ((kSortedColumnShapes[I].width == job.maskWidth &&
              kSortedColumnShapes[I].height == job.maskHeight
          ? SortedColumns<T, kSortedColumnShapes[I].width, kSortedColumnShapes[I].height>::run(
                job, rows)
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
