#include "progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace ringtrace {

namespace {
constexpr auto kInterval = std::chrono::milliseconds(100);  // at most ten updates a second
}

progressLine::progressLine() : enabled_(isatty(STDERR_FILENO) == 1) {}

progressCallback progressLine::callback() {
    if (!enabled_) return nullptr;
    return [this](const searchProgress& p) { show(p); };
}

void progressLine::show(const searchProgress& p) {
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < kInterval) return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\rringtrace: iteration %lld, %lld shortest-path runs, best open rows %d..%d cost %lld\033[K",
                 static_cast<long long>(p.iterations), static_cast<long long>(p.shortestPathRuns), p.bestLo, p.bestHi,
                 static_cast<long long>(p.bestCost));
    std::fflush(stderr);
}

void progressLine::clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace ringtrace
