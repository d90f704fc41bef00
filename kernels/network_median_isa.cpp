// The selection-network kernels for one instruction set; the build compiles
// this file once per set, with MK_ISA_NS and MK_VECTOR_BYTES defined.

#include "flipped_words.h"
#include "isa_kernels.h"
#include "network_median.h"
#if !MK_SCALAR_FALLBACK
#include "selection_steps.h"
#endif

namespace mediankernels::MK_ISA_NS {

namespace {

// Regions narrower than a vector go to the scalar build: compiling every
// network a second time on single lanes here would double this file's
// build time for the rarest shapes.
template <typename T, int Count>
void fixedCount(const MedianJob& job, const std::ptrdiff_t* offsets) {
    using W = Lanes<T, MK_VECTOR_BYTES>;
    if constexpr (W::kCount > 1) {
        if (job.width < W::kCount) return scalar::fixedNetworkMedian<T>(job, offsets);
    }
    const RuntimeNetwork none{nullptr, 0};
    forEachFullVector<T>(job, [&](const unsigned char* base) {
        return FixedWindow<W, Count>::median(base, offsets, none);
    });
}

// Whether T's 49- and 81-element networks run from their tables in a loop
// rather than unrolled: 32-bit keys on x86-64 before SSE4.1, whose emulated
// min / max made those two a quarter of this file's code. fastMedian takes
// the sorted blocks there (as fast for 1 x 49, five times as fast for
// 3 x 27), so only explicit requests come here.
template <typename T>
constexpr bool tabledLargeNetworks() {
#if defined(__x86_64__) && !defined(__SSE4_1__)
    return MK_VECTOR_BYTES > 0 && std::is_same_v<T, OrderedFloat>;
#else
    return false;
#endif
}

template <typename T, int Count>
void tabledCount(const MedianJob& job, const std::ptrdiff_t* offsets) {
    using W = Lanes<T, MK_VECTOR_BYTES>;
    if (job.width < W::kCount) return scalar::fixedNetworkMedian<T>(job, offsets);
    const RuntimeNetwork network{kSelectionNetwork<Count>.comparators,
                                 kSelectionNetwork<Count>.size};
    typename W::V v[Count];
    forEachFullVector<T>(job, [&](const unsigned char* base) {
        return RuntimeWindow<W>::median(base, offsets, network, v, Count);
    });
}

template <typename T, std::size_t... I>
void fixedDispatch(const MedianJob& job, const std::ptrdiff_t* offsets, std::index_sequence<I...>) {
    const int count = job.maskWidth * job.maskHeight;
    ((count == static_cast<int>(I) + 1 ? fixedCount<T, static_cast<int>(I) + 1>(job, offsets)
                                       : void()),
     ...);
}

}  // namespace

#if MK_SCALAR_FALLBACK

namespace {

template <std::size_t... I>
struct SmallNetworks {
    NetworkTable tables[sizeof...(I)];
};
template <std::size_t... I>
constexpr SmallNetworks<I...> smallNetworks(std::index_sequence<I...>) {
    return {{kSelectionNetwork<static_cast<int>(I)>...}};
}
inline constexpr auto kSmallNetworks = smallNetworks(std::make_index_sequence<kMaxFixedNetwork + 1>());

}  // namespace

// This build serves only regions narrower than a vector (and the scalar
// cap): the compiled-in networks run from their tables in a loop, each
// comparator exchanging both ways as in runtimeNetworkMedian.
template <typename T>
void fixedNetworkMedian(const MedianJob& job, const std::ptrdiff_t* offsets) {
    using S = Lanes<T, 0>;
    constexpr int kLargerCount = sizeof kLargerFixedNetworks / sizeof kLargerFixedNetworks[0];
    constexpr int kLargest = kLargerFixedNetworks[kLargerCount - 1];
    const int count = job.maskWidth * job.maskHeight;
    const NetworkTable table = count <= kMaxFixedNetwork ? kSmallNetworks.tables[count]
                               : count == kLargerFixedNetworks[0] ? kSelectionNetwork<kLargerFixedNetworks[0]>
                                                                  : kSelectionNetwork<kLargest>;
    static_assert(kLargerCount == 2);
    typename S::V v[kLargest];
    const RuntimeNetwork network{table.comparators, table.size};
    forEachFullVector<T>(job, [&](const unsigned char* base) {
        return RuntimeWindow<S>::median(base, offsets, network, v, count);
    });
}

#else

template <typename T>
void fixedNetworkMedian(const MedianJob& job, const std::ptrdiff_t* offsets) {
    if constexpr (kWordsAsSigned && std::is_same_v<T, uint16_t>) {
        // Up to four elements the two passes over memory cost more than the
        // emulated min / max save (1 x 3: 0.29 against 0.44 ns per output).
        constexpr int kLargestDirect = 4;
        if (job.maskWidth * job.maskHeight <= kLargestDirect) {
            return fixedDispatch<T>(job, offsets, std::make_index_sequence<kLargestDirect>());
        }
        return flippedWordMedian(job, [](const MedianJob& part, const std::ptrdiff_t* offsets) {
            fixedNetworkMedian<int16_t>(part, offsets);
        });
    } else {
        static_assert(kLargerFixedNetworks[0] == 49 && kLargerFixedNetworks[1] == 81);
        const int count = job.maskWidth * job.maskHeight;
        if constexpr (tabledLargeNetworks<T>()) {
            if (count == 49) return tabledCount<T, 49>(job, offsets);
            if (count == 81) return tabledCount<T, 81>(job, offsets);
        } else {
            if (count == 49) return fixedCount<T, 49>(job, offsets);
            if (count == 81) return fixedCount<T, 81>(job, offsets);
        }
        return fixedDispatch<T>(job, offsets, std::make_index_sequence<kMaxFixedNetwork>());
    }
}

#endif

template <typename T>
void runtimeNetworkMedian(const MedianJob& job, const std::ptrdiff_t* offsets,
                          const RuntimeNetwork& network, void* scratch) {
    if constexpr (kWordsAsSigned && std::is_same_v<T, uint16_t>) {
        return flippedWordMedian(job, [&](const MedianJob& part, const std::ptrdiff_t* offsets) {
            runtimeNetworkMedian<int16_t>(part, offsets, network, scratch);
        });
    } else {
        using W = Lanes<T, MK_VECTOR_BYTES>;
        using S = Lanes<T, 0>;
        const int count = job.maskWidth * job.maskHeight;
        auto* wide = static_cast<typename W::V*>(scratch);
        auto* narrow = static_cast<typename S::V*>(scratch);
        forEachOutputVector<T>(
            job,
            [&](const unsigned char* base) {
                return RuntimeWindow<W>::median(base, offsets, network, wide, count);
            },
            [&](const unsigned char* base) {
                return RuntimeWindow<S>::median(base, offsets, network, narrow, count);
            });
    }
}

void orderedFloatKeys(const unsigned char* floats, int count, int32_t* keys) {
    using W = typename VectorOf<int32_t, MK_VECTOR_BYTES>::Type;
    constexpr int kLanes = VectorOf<int32_t, MK_VECTOR_BYTES>::kLanes;
    int i = 0;
    const auto convert = [](auto bits) {
        bits = (bits & 0x7FFFFFFF) > 0x7F800000 ? decltype(bits){} + 0x7FC00000 : bits;
        return bits ^ ((bits >> 31) & 0x7FFFFFFF);
    };
    for (; i + kLanes <= count; i += kLanes) {
        W bits;
        std::memcpy(&bits, floats + 4 * i, sizeof bits);
        bits = convert(bits);
        std::memcpy(keys + i, &bits, sizeof bits);
    }
    for (; i < count; ++i) {
        int32_t bits;
        std::memcpy(&bits, floats + 4 * i, sizeof bits);
        keys[i] = convert(bits);
    }
}

#define MK_INSTANTIATE(T)                                                          \
    template void fixedNetworkMedian<T>(const MedianJob&, const std::ptrdiff_t*);  \
    template void runtimeNetworkMedian<T>(const MedianJob&, const std::ptrdiff_t*, \
                                          const RuntimeNetwork&, void*);
MK_INSTANTIATE(uint8_t)
MK_INSTANTIATE(uint16_t)
MK_INSTANTIATE(int16_t)
MK_INSTANTIATE(OrderedFloat)
#undef MK_INSTANTIATE

}  // namespace mediankernels::MK_ISA_NS
