// The search's progress on standard error, updated in place, only when standard error is
// a terminal: scripts and pipes see nothing but the program's own output.
#pragma once

#include <chrono>

#include "contour_search.h"

namespace ringtrace {

class progressLine {
public:
    // `enabled` defaults to whether standard error is a terminal.
    progressLine();
    explicit progressLine(bool enabled) : enabled_(enabled) {}

    // Null when disabled, so the search pays nothing.
    progressCallback callback();
    void show(const searchProgress& p);
    // Erases the line, if anything was shown.
    void clear();

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace ringtrace
