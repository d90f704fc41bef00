// ringview: pictures of the tracer's and the median filter's results.
//   ringview [DIR]                   DIR/outx.tif + DIR/new.tif -> DIR/overlay.png
//   ringview --grey IN.tif OUT.png   greyscale TIFF -> 8-bit grey PNG

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace {

constexpr const char* kUsageText =
    "usage: ringview [DIR]\n"
    "         draws the contour of DIR/new.tif over DIR/outx.tif into DIR/overlay.png\n"
    "         (DIR defaults to the current directory)\n"
    "       ringview --grey IN.tif OUT.png\n"
    "         converts a greyscale TIFF (8/16/32/64-bit integer or float) to an 8-bit PNG\n";

int usageError(const std::string& message) {
    std::cerr << "ringview: " << message << '\n' << kUsageText;
    return ringview::kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsageText;
        return ringview::kOk;
    }
    if (!args.empty() && args[0] == "--grey") {
        if (args.size() != 3) return usageError("--grey takes an input and an output file");
        return ringview::convertGrey(args[1], args[2], std::cout, std::cerr);
    }
    if (args.size() > 1) return usageError("too many arguments");
    if (!args.empty() && args[0].size() > 1 && args[0][0] == '-') {
        return usageError("unknown option " + args[0]);
    }
    if (!args.empty() && args[0].empty()) return usageError("empty directory name");
    return ringview::drawOverlay(args.empty() ? "." : args[0], std::cout, std::cerr);
}
