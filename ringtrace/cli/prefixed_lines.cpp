#include "cli/prefixed_lines.h"

namespace ringtrace::cli {

void prefixedLines::flushLine(std::string& out) {
    out += prefix_;
    out += partial_;
    out += '\n';
    partial_.clear();
}

void prefixedLines::feed(const char* data, size_t size, std::string& out) {
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n') {
            // The '\n' of a "\r\n" ends nothing more.
            if (!afterReturn_) flushLine(out);
        } else if (c == '\r') {
            if (!partial_.empty()) flushLine(out);
        } else {
            partial_ += c;
            if (partial_.size() >= kLongestLine) flushLine(out);
        }
        afterReturn_ = c == '\r';
    }
}

void prefixedLines::finish(std::string& out) {
    if (!partial_.empty()) flushLine(out);
    afterReturn_ = false;
}

}  // namespace ringtrace::cli
