// Turns a stream of bytes from one source into whole lines, each prefixed with the source's
// name, so that lines from several sources can be interleaved without mixing.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace ringtrace::cli {

class prefixedLines {
public:
    explicit prefixedLines(std::string prefix) : prefix_(std::move(prefix)) {}

    // Appends to `out` every line completed by `data`, prefixed and ending in '\n'. A
    // carriage return also ends a line that has text (progress displays rewrite their line
    // with it). A line longer than kLongestLine is cut there rather than held without bound.
    void feed(const char* data, size_t size, std::string& out);
    // Appends the unfinished last line, if any, with a '\n'.
    void finish(std::string& out);

    static constexpr size_t kLongestLine = 64 * 1024;

private:
    void flushLine(std::string& out);

    std::string prefix_;
    std::string partial_;
    bool afterReturn_ = false;  // the last byte was '\r'
};

}  // namespace ringtrace::cli
