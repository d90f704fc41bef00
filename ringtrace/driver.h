// The program's one fixed sequence: read, build, price, search, render, write, release.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "contour_search.h"
#include "render_output.h"

namespace ringtrace {

// Exit statuses of the program.
inline constexpr int EXIT_TRACED = 0;         // ran to the end, "new.tif" written
inline constexpr int EXIT_NOT_READ = 1;       // an input could not be read ("error image not read")
inline constexpr int EXIT_NOT_WRITTEN = 2;    // "new.tif" (or a file written with it) could not be written
inline constexpr int EXIT_REFUSED = 3;        // the image's size cannot be traced

inline constexpr const char* kNotReadMessage = "error image not read";

// What a status means, in a few words ("traced", "error image not read", ...).
const char* statusMeaning(int status);

struct tracerPaths {
    const char* primary = "outx.tif";
    const char* secondary = "outx1.tif";
    const char* output = "new.tif";
};

// What a run did, for tests, benchmarks and the files written beside "new.tif".
struct tracerReport {
    int32_t width = 0;
    int32_t height = 0;
    searchResult search;
    int marked = 0;
    int status = EXIT_TRACED;  // the run's exit status, should every file be written
    // With an accepted contour: the rows where its path enters (column 1) and leaves
    // (column width - 3) the grid, and its marked pixels from the sink end to the source end.
    int32_t entryRow = -1;
    int32_t exitRow = -1;
    std::vector<contourPixel> contour;
};

// A text file written from the report beside "new.tif", and committed together with it:
// it exists only when "new.tif" was written, and always describes the "new.tif" beside it.
struct companionFile {
    std::string path;
    std::function<std::string(const tracerReport&)> render;
};

// Runs the sequence on `paths`. The companions are rendered once the image is complete and
// are renamed into place right after it; if any of them cannot be written, none of the
// outputs replaces an earlier one and the status is EXIT_NOT_WRITTEN.
int runTracer(const tracerPaths& paths, tracerReport* report = nullptr,
              const std::vector<companionFile>& companions = {});

}  // namespace ringtrace
