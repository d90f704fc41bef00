#include "isa_kernels.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace mediankernels {

namespace {

[[maybe_unused]] bool processorRuns(Isa isa) {
#if defined(__x86_64__)
    switch (isa) {
        case Isa::kScalar:
        case Isa::kSse2:  // part of every x86-64
            return true;
        // The vector builds also count and select bits with POPCNT and BMI2.
        case Isa::kAvx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
                   __builtin_cpu_supports("popcnt");
        case Isa::kAvx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
        case Isa::kNeon:
            return false;
    }
    return false;
#elif defined(__aarch64__)
    // Advanced SIMD is part of every 64-bit ARM processor.
    return isa == Isa::kScalar || isa == Isa::kNeon;
#else
    return isa == Isa::kScalar;
#endif
}

Isa findPreferredIsa() {
    Isa best = Isa::kScalar;
    for (Isa isa : kAllIsas) {
        if (isaUsable(isa)) best = isa;
    }
    if (const char* cap = std::getenv("MEDIAN_KERNELS_ISA")) {
        for (Isa isa : kAllIsas) {
            if (std::strcmp(cap, isaName(isa)) == 0 && isa < best) best = isa;
        }
    }
    return best;
}

}  // namespace

bool isaUsable(Isa isa) {
#ifdef MK_SCALAR_ONLY
    return isa == Isa::kScalar;
#else
    return processorRuns(isa);
#endif
}

const char* isaName(Isa isa) {
    switch (isa) {
        case Isa::kScalar:
            return "scalar";
        case Isa::kSse2:
            return "sse2";
        case Isa::kAvx2:
            return "avx2";
        case Isa::kAvx512:
            return "avx512";
        case Isa::kNeon:
            return "neon";
    }
    return "?";
}

Isa preferredIsa() {
    static const Isa preferred = findPreferredIsa();
    return preferred;
}

template <typename T>
NetworkKernels<T> networkKernels(Isa isa) {
    switch (isa) {
#if defined(MK_X86_VECTORS)
        case Isa::kSse2:
            return {sse2::fixedNetworkMedian<T>, sse2::runtimeNetworkMedian<T>};
        case Isa::kAvx2:
            return {avx2::fixedNetworkMedian<T>, avx2::runtimeNetworkMedian<T>};
        case Isa::kAvx512:
            return {avx512::fixedNetworkMedian<T>, avx512::runtimeNetworkMedian<T>};
#elif defined(MK_ARM_VECTORS)
        case Isa::kNeon:
            return {neon::fixedNetworkMedian<T>, neon::runtimeNetworkMedian<T>};
#endif
        default:
            return {scalar::fixedNetworkMedian<T>, scalar::runtimeNetworkMedian<T>};
    }
}

template <typename T>
SortedColumnKernel<T> sortedColumnKernel(Isa isa) {
    switch (isa) {
#if defined(MK_X86_VECTORS)
        case Isa::kSse2:
            return sse2::sortedColumnMedian<T>;
        case Isa::kAvx2:
            return avx2::sortedColumnMedian<T>;
        case Isa::kAvx512:
            return avx512::sortedColumnMedian<T>;
#elif defined(MK_ARM_VECTORS)
        case Isa::kNeon:
            return neon::sortedColumnMedian<T>;
#endif
        default:
            return scalar::sortedColumnMedian<T>;
    }
}

ColumnHistogramKernel columnHistogramKernel(Isa isa) {
    switch (isa) {
#if defined(MK_X86_VECTORS)
        case Isa::kSse2:
            return sse2::columnHistogramMedian8u;
        case Isa::kAvx2:
            return avx2::columnHistogramMedian8u;
        case Isa::kAvx512:
            return avx512::columnHistogramMedian8u;
#elif defined(MK_ARM_VECTORS)
        case Isa::kNeon:
            return neon::columnHistogramMedian8u;
#endif
        default:
#if defined(MK_X86_VECTORS)
            // The one-lane set has the same kernel here: it is built from
            // SSE2 code, part of every x86-64 (see kernels/CMakeLists.txt).
            return sse2::columnHistogramMedian8u;
#else
            return scalar::columnHistogramMedian8u;
#endif
    }
}

template <typename T>
SortedBlockKernel<T> sortedBlockKernel(Isa isa) {
    switch (isa) {
#if defined(MK_X86_VECTORS)
        case Isa::kSse2:
            return sse2::sortedBlockMedian<T>;
        case Isa::kAvx2:
            return avx2::sortedBlockMedian<T>;
        case Isa::kAvx512:
            return avx512::sortedBlockMedian<T>;
#elif defined(MK_ARM_VECTORS)
        case Isa::kNeon:
            return neon::sortedBlockMedian<T>;
#endif
        default:
#if defined(MK_X86_VECTORS)
            return sse2::sortedBlockMedian<T>;  // as for the column histograms
#else
            return scalar::sortedBlockMedian<T>;
#endif
    }
}

OrderedFloatKeys orderedFloatKeysKernel(Isa isa) {
    switch (isa) {
#if defined(MK_X86_VECTORS)
        case Isa::kSse2:
            return sse2::orderedFloatKeys;
        case Isa::kAvx2:
            return avx2::orderedFloatKeys;
        case Isa::kAvx512:
            return avx512::orderedFloatKeys;
#elif defined(MK_ARM_VECTORS)
        case Isa::kNeon:
            return neon::orderedFloatKeys;
#endif
        default:
            return scalar::orderedFloatKeys;
    }
}

template NetworkKernels<uint8_t> networkKernels(Isa);
template NetworkKernels<uint16_t> networkKernels(Isa);
template NetworkKernels<int16_t> networkKernels(Isa);
template NetworkKernels<OrderedFloat> networkKernels(Isa);
template SortedColumnKernel<uint8_t> sortedColumnKernel<uint8_t>(Isa);
template SortedColumnKernel<uint16_t> sortedColumnKernel<uint16_t>(Isa);
template SortedColumnKernel<int16_t> sortedColumnKernel<int16_t>(Isa);
template SortedColumnKernel<OrderedFloat> sortedColumnKernel<OrderedFloat>(Isa);
template SortedBlockKernel<uint8_t> sortedBlockKernel<uint8_t>(Isa);
template SortedBlockKernel<uint16_t> sortedBlockKernel<uint16_t>(Isa);
template SortedBlockKernel<int16_t> sortedBlockKernel<int16_t>(Isa);
template SortedBlockKernel<float> sortedBlockKernel<float>(Isa);

}  // namespace mediankernels
