#include "bands.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <thread>

namespace rankwin {

int availableProcessors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(hardware) : 1;
}

int threadCount() {
    if (const char* text = std::getenv("RANKWIN_THREADS")) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(text, &end, 10);
        if (errno == 0 && end != text && *end == '\0' && value >= 1 && value <= kMaxThreads) {
            return static_cast<int>(value);
        }
    }
    return std::min(availableProcessors(), kMaxThreads);
}

int threadsFor(std::uint64_t sourceElements, int requested) {
    if (sourceElements < kThreadedElements) return 1;
    return requested > 0 ? std::min(requested, kMaxThreads) : threadCount();
}

std::vector<Band> splitRegion(KernelSize region, KernelSize mask, int threads) {
    // Source elements a cut re-reads: across the lines, each extra band reads
    // mask.height - 1 more source lines of region.width + mask.width - 1
    // elements; along them, mask.width - 1 more columns of the source's height.
    const auto reReadAcross = static_cast<std::int64_t>(mask.height - 1) *
                              (static_cast<std::int64_t>(region.width) + mask.width - 1);
    const auto reReadAlong = static_cast<std::int64_t>(mask.width - 1) *
                             (static_cast<std::int64_t>(region.height) + mask.height - 1);
    // Whole lines keep each band's destination in one piece, so lines are cut
    // unless cutting columns re-reads less or there are too few lines.
    const bool acrossLines = region.height >= threads
                                 ? reReadAcross <= reReadAlong || region.width < threads
                                 : region.height >= region.width;
    const std::int32_t extent = acrossLines ? region.height : region.width;
    const int count =
        static_cast<int>(std::max<std::int64_t>(1, std::min<std::int64_t>(threads, extent)));

    std::vector<Band> bands;
    bands.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto first = static_cast<std::int32_t>(static_cast<std::int64_t>(extent) * i / count);
        const auto next =
            static_cast<std::int32_t>(static_cast<std::int64_t>(extent) * (i + 1) / count);
        bands.push_back(acrossLines ? Band{0, first, region.width, next - first}
                                    : Band{first, 0, next - first, region.height});
    }
    return bands;
}

void runBands(int count, const std::function<void(int)>& band) {
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(std::max(count, 0)));
    {
        // Declared after `failures`, so every thread is joined (even while an
        // exception from the calling thread's own band unwinds) before the
        // slots they write go away.
        std::vector<std::jthread> workers;
        workers.reserve(failures.size());
        for (int i = 1; i < count; ++i) {
            const auto run = [&band, &failures, i] {
                try {
                    band(i);
                } catch (...) {
                    failures[static_cast<std::size_t>(i)] = std::current_exception();
                }
            };
            try {
                workers.emplace_back(run);
            } catch (...) {
                run();  // no thread to be had: this band on the calling thread
            }
        }
        if (count > 0) band(0);
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

}  // namespace rankwin
