// The program's one fixed sequence: read, build, price, search, render, write, release.
#pragma once

#include "contour_search.h"

namespace ringtrace {

// Exit statuses of the program.
inline constexpr int EXIT_TRACED = 0;         // ran to the end, "new.tif" written
inline constexpr int EXIT_NOT_READ = 1;       // an input could not be read ("error image not read")
inline constexpr int EXIT_NOT_WRITTEN = 2;    // "new.tif" could not be created or written
inline constexpr int EXIT_REFUSED = 3;        // the image's size cannot be traced

inline constexpr const char* kNotReadMessage = "error image not read";

struct tracerPaths {
    const char* primary = "outx.tif";
    const char* secondary = "outx1.tif";
    const char* output = "new.tif";
};

// What a run did, for tests and benchmarks.
struct tracerReport {
    int32_t width = 0;
    int32_t height = 0;
    searchResult search;
    int marked = 0;
};

int runTracer(const tracerPaths& paths, tracerReport* report = nullptr);

}  // namespace ringtrace
