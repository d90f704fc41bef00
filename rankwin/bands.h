#pragma once

// Large calls filter their destination region in bands, one per thread. A
// band is an ordinary kernel call over part of the region, so the result is
// the same to the bit whatever the number of threads.

#include <cstdint>
#include <functional>
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

}  // namespace rankwin
