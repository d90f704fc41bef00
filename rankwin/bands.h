#pragma once

// Large calls filter their destination region in bands, one per thread. A
// band is an ordinary kernel call over part of the region, so the result is
// the same to the bit whatever the number of threads.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "kernel_signature.h"

namespace rankwin {

// Images with at least this many elements are filtered on several threads;
// below it, starting threads costs more than it saves.
inline constexpr std::uint64_t kThreadedElements = 1000000;

// The most threads a call starts, whatever RANKWIN_THREADS asks for.
inline constexpr int kMaxThreads = 256;

// Threads for one large call: RANKWIN_THREADS when it is a whole number from 1
// to kMaxThreads, otherwise the number of processors this process may run on.
// Read at every call; 1 filters on the calling thread alone.
int threadCount();

// The processors this process may run on (its affinity mask), at least 1.
int availableProcessors();

// Part of the destination region: `width` columns from column `x` of `height`
// lines from line `y`, in kernel coordinates.
struct Band {
    std::int32_t x;
    std::int32_t y;
    std::int32_t width;
    std::int32_t height;
};

// Splits `region` into at most `threads` bands of (nearly) equal size that
// together cover it once. The cut runs across the kernel lines or along them,
// whichever makes the bands re-read fewer source elements at their edges
// (each band reads mask - 1 lines or columns beyond its own). Never more bands
// than the region has lines or columns in the direction of the cut.
std::vector<Band> splitRegion(KernelSize region, KernelSize mask, int threads);

// Runs band(0) .. band(count - 1): band 0 on the calling thread, each other on
// a thread of its own (or on the calling thread when a thread cannot be
// started). Every thread is joined before this returns or throws, so none
// outlives the call. An exception thrown by a band is caught on its thread
// and the first one, in band order, is rethrown here, on the calling thread.
void runBands(int count, const std::function<void(int)>& band);

// Threads for a call whose source has `sourceElements` elements: 1 below
// kThreadedElements, otherwise `requested` (threadCount() when it is 0 or
// less), never more than kMaxThreads.
int threadsFor(std::uint64_t sourceElements, int requested = 0);

// One kernel call over `region`, or, with threads > 1, the same call cut by
// splitRegion into bands that runBands runs: each band's source and
// destination pointers move to its first element; steps, mask and anchor
// stay. `source` points at the anchor element of the first window, as the
// kernel expects. The plug-in and the Python module both filter through this,
// so their results are the same to the bit whatever the thread count.
// A negative kernel status throws std::runtime_error when `checkStatus` is set
// (the plug-in leaves the status unexamined: its own checks leave the kernels nothing to refuse).
template <typename T>
void filterInBands(MedianKernel<T> kernel, const unsigned char* source, std::int32_t sourceStep,
                   unsigned char* destination, std::int32_t destinationStep, KernelSize region,
                   KernelSize mask, KernelPoint anchor, int threads, bool checkStatus = false) {
    constexpr std::ptrdiff_t E = sizeof(T);
    const auto run = [&](const Band& b) {
        const KernelStatus status = kernel(
            reinterpret_cast<const T*>(source + static_cast<std::ptrdiff_t>(b.y) * sourceStep +
                                       static_cast<std::ptrdiff_t>(b.x) * E),
            sourceStep,
            reinterpret_cast<T*>(destination +
                                 static_cast<std::ptrdiff_t>(b.y) * destinationStep +
                                 static_cast<std::ptrdiff_t>(b.x) * E),
            destinationStep, KernelSize{b.width, b.height}, mask, anchor);
        if (checkStatus && status < 0) {
            throw std::runtime_error("median kernel refused its arguments (status " +
                                     std::to_string(status) + ")");
        }
    };
    if (threads <= 1) {
        run(Band{0, 0, region.width, region.height});
        return;
    }
    const std::vector<Band> bands = splitRegion(region, mask, threads);
    runBands(static_cast<int>(bands.size()),
             [&](int i) { run(bands[static_cast<std::size_t>(i)]); });
}

}  // namespace rankwin
