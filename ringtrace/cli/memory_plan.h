// How much a folder's trace is expected to need, and how many may run at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ringtrace::cli {

// Planning figures for one trace's peak memory: the tracer needs about 52 bytes per pixel
// plus about 10 MB of program (see the README); the margin covers allocator slack and the
// search's queued paths.
inline constexpr uint64_t kPeakBytesPerPixel = 64;
inline constexpr uint64_t kPeakFixedBytes = uint64_t{16} << 20;

// Expected peak of a trace whose primary image has `primaryPixels` pixels and whose
// secondary has `secondaryPixels` (0 or less: unknown or unreadable). An image the tracer
// refuses, or cannot open, costs only the fixed part; a secondary of another size is read
// at its own size first (4 bytes a pixel more).
uint64_t pairPeakBytes(int64_t primaryPixels, int64_t secondaryPixels);

// pairPeakBytes for the pair in `folder`, from the images' headers alone (no pixel is read,
// and nothing is printed: libtiff's complaints about these files come from the trace).
uint64_t folderPeakBytes(const std::string& folder);

// Whether a trace expected to need `candidate` bytes may start while traces needing
// `inUse` bytes together are running (`running` of them). One always may when nothing
// runs, so that a folder larger than the limit still gets traced, alone.
inline bool admits(uint64_t inUse, uint64_t candidate, uint64_t limit, size_t running) {
    return running == 0 || (candidate <= limit && inUse <= limit - candidate);
}

// Processors this process may run on.
int defaultJobs();
// Half of the physical memory.
uint64_t defaultMemoryLimit();

// "11.7 GiB", "512 MiB", ...
std::string describeBytes(uint64_t bytes);

}  // namespace ringtrace::cli
