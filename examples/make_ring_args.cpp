#include "make_ring_args.h"

#include <charconv>
#include <cstdint>

namespace ringgen {

namespace {

template <typename T>
bool parseNumber(const std::string& text, T* value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

}  // namespace

bool parseMakeRingArgs(const std::vector<std::string>& args, MakeRingOptions* options,
                       std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        if (opt == "--help" || opt == "-h") {
            options->help = true;
            return true;
        }
        if (opt != "--width" && opt != "--height" && opt != "--seed" && opt != "--out" &&
            opt != "--drift") {
            *error = "unknown argument '" + opt + "'";
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = "missing value after " + opt;
            return false;
        }
        const std::string& value = args[++i];
        bool ok = true;
        if (opt == "--width") {
            ok = parseNumber(value, &options->params.width);
        } else if (opt == "--height") {
            ok = parseNumber(value, &options->params.height);
        } else if (opt == "--seed") {
            ok = parseNumber(value, &options->params.seed);
        } else if (opt == "--drift") {
            ok = parseNumber(value, &options->params.drift);
        } else {
            ok = !value.empty();
            options->outDir = value;
        }
        if (!ok) {
            *error = "invalid value '" + value + "' for " + opt;
            return false;
        }
    }
    return validateParams(options->params, error);
}

}  // namespace ringgen
