#include "cli/memory_plan.h"

#include <sched.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>

#include "image_input.h"

namespace ringtrace::cli {

namespace {

extern "C" int ignoreTiffMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;  // handled: nothing reaches the process-wide handlers
}

// Width x height of the first image in `path`; 0 when it cannot be read.
int64_t headerPixels(const std::string& path) {
    // Only a plain file: opening a FIFO, say, would hold up the whole batch.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return 0;
    TIFFOpenOptionsSetErrorHandlerExtR(options, ignoreTiffMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreTiffMessage, nullptr);
    TIFF* tif = TIFFOpenExt(path.c_str(), "r", options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) return 0;
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFClose(tif);
    return int64_t{w} * int64_t{h};
}

}  // namespace

uint64_t pairPeakBytes(int64_t primaryPixels, int64_t secondaryPixels) {
    if (primaryPixels <= 0 || primaryPixels > kMaxPixels) return kPeakFixedBytes;
    uint64_t bytes = kPeakFixedBytes + kPeakBytesPerPixel * static_cast<uint64_t>(primaryPixels);
    if (secondaryPixels > 0 && secondaryPixels != primaryPixels && secondaryPixels <= kMaxPixels) {
        bytes += 4 * static_cast<uint64_t>(secondaryPixels);
    }
    return bytes;
}

uint64_t folderPeakBytes(const std::string& folder) {
    return pairPeakBytes(headerPixels(folder + "/outx.tif"), headerPixels(folder + "/outx1.tif"));
}

int defaultJobs() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

uint64_t defaultMemoryLimit() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return uint64_t{1} << 30;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / 2;
}

std::string describeBytes(uint64_t bytes) {
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) value /= 1024, ++unit;
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    }
    return text;
}

}  // namespace ringtrace::cli
