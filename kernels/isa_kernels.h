#pragma once

// The per-instruction-set builds of the network kernels and the choice among
// them at run time.

#include <cstddef>
#include <cstdint>

#include "median_job.h"
#include "sorted_block_median.h"

namespace mediankernels {

// Narrowest first within each processor family: a later usable set is preferred.
enum class Isa { kScalar, kSse2, kAvx2, kAvx512, kNeon };
inline constexpr Isa kAllIsas[] = {Isa::kScalar, Isa::kSse2, Isa::kAvx2, Isa::kAvx512, Isa::kNeon};

// Widest vector (in bytes) a kernel of `isa` keeps per window element.
inline constexpr std::size_t kMaxVectorBytes = 64;

template <typename T>
struct NetworkKernels {
    void (*fixed)(const MedianJob&, const std::ptrdiff_t* offsets);
    // `scratch` holds one widest vector per window element, 64-byte aligned.
    void (*runtime)(const MedianJob&, const std::ptrdiff_t* offsets, const RuntimeNetwork&,
                    void* scratch);
};

// `scratch`: sortedColumnScratchBytes of the mask, 64-byte aligned.
template <typename T>
using SortedColumnKernel = void (*)(const MedianJob&, void* scratch);
using ColumnHistogramKernel = void (*)(const MedianJob&, uint8_t* columns);
template <typename T>
using SortedBlockKernel = void (*)(const MedianJob&, const SortedBlockPlan&,
                                   const SortedBlockBuffers&);

// Whether this build holds `isa` and this processor runs it.
bool isaUsable(Isa isa);
const char* isaName(Isa isa);

// The widest usable set; MEDIAN_KERNELS_ISA=scalar|sse2|avx2|avx512|neon caps it.
Isa preferredIsa();

// Kernels of a usable set.
template <typename T>
NetworkKernels<T> networkKernels(Isa isa);
template <typename T>
SortedColumnKernel<T> sortedColumnKernel(Isa isa);
ColumnHistogramKernel columnHistogramKernel(Isa isa);
template <typename T>
SortedBlockKernel<T> sortedBlockKernel(Isa isa);
// Writes the OrderedFloat keys of `count` floats.
using OrderedFloatKeys = void (*)(const unsigned char* floats, int count, int32_t* keys);
OrderedFloatKeys orderedFloatKeysKernel(Isa isa);

#define MK_DECLARE_ISA(ns)                                                         \
    namespace ns {                                                                 \
    template <typename T>                                                          \
    void fixedNetworkMedian(const MedianJob& job, const std::ptrdiff_t* offsets);  \
    template <typename T>                                                          \
    void runtimeNetworkMedian(const MedianJob& job, const std::ptrdiff_t* offsets, \
                              const RuntimeNetwork& network, void* scratch);       \
    template <typename T>                                                          \
    void sortedColumnMedian(const MedianJob& job, void* scratch);                  \
    void columnHistogramMedian8u(const MedianJob& job, uint8_t* columns);          \
    template <typename T>                                                          \
    void sortedBlockMedian(const MedianJob& job, const SortedBlockPlan& plan,     \
                           const SortedBlockBuffers& buffers);                     \
    void orderedFloatKeys(const unsigned char* floats, int count, int32_t* keys);  \
    }
MK_DECLARE_ISA(scalar)
MK_DECLARE_ISA(sse2)
MK_DECLARE_ISA(avx2)
MK_DECLARE_ISA(avx512)
MK_DECLARE_ISA(neon)
#undef MK_DECLARE_ISA

}  // namespace mediankernels
