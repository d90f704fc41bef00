// The selection-network kernels for one instruction set; the build compiles
// this file once per set, with MK_ISA_NS and MK_VECTOR_BYTES defined.

#include "network_median.h"

#include "isa_kernels.h"

namespace mediankernels::MK_ISA_NS {

namespace {

template <typename T, int Count>
void fixedCount(const MedianJob& job, const std::ptrdiff_t* offsets) {
    using W = Lanes<T, MK_VECTOR_BYTES>;
    using S = Lanes<T, 0>;
    const RuntimeNetwork none{nullptr, 0};
    forEachOutputVector<T>(
        job,
        [&](const unsigned char* base) {
            return FixedWindow<W, Count>::median(base, offsets, none);
        },
        [&](const unsigned char* base) {
            return FixedWindow<S, Count>::median(base, offsets, none);
        });
}

template <typename T, std::size_t... I>
void fixedDispatch(const MedianJob& job, const std::ptrdiff_t* offsets,
                   std::index_sequence<I...>) {
    const int count = job.maskWidth * job.maskHeight;
    ((count == static_cast<int>(I) + 1 ? fixedCount<T, static_cast<int>(I) + 1>(job, offsets)
                                       : void()),
     ...);
}

}  // namespace

template <typename T>
void fixedNetworkMedian(const MedianJob& job, const std::ptrdiff_t* offsets) {
    fixedDispatch<T>(job, offsets, std::make_index_sequence<kMaxFixedNetwork>());
}

template <typename T>
void runtimeNetworkMedian(const MedianJob& job, const std::ptrdiff_t* offsets,
                          const RuntimeNetwork& network, void* scratch) {
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

#define MK_INSTANTIATE(T)                                                                  \
    template void fixedNetworkMedian<T>(const MedianJob&, const std::ptrdiff_t*);          \
    template void runtimeNetworkMedian<T>(const MedianJob&, const std::ptrdiff_t*,         \
                                          const RuntimeNetwork&, void*);
MK_INSTANTIATE(uint8_t)
MK_INSTANTIATE(uint16_t)
MK_INSTANTIATE(int16_t)
MK_INSTANTIATE(float)
#undef MK_INSTANTIATE

}  // namespace mediankernels::MK_ISA_NS
