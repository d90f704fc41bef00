// Plays the host for one call of an extension on a TIFF image:
//   hvhost PLUGIN INPUT.tif M N OUTPUT.tif
// PLUGIN is a path, or a name (rankwin) looked up beside the program's libraries.
// Exit status: 0 done, 1 usage or file problem, 2 the call raised a host error.

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "hv/host.h"
#include "plugin.h"
#include "tiff_array.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitHostError = 2;

std::optional<double> parseNumber(const char* text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE) return std::nullopt;
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "usage: hvhost PLUGIN INPUT.tif M N OUTPUT.tif\n";
        return kExitFailure;
    }
    const auto m = parseNumber(argv[3]);
    const auto n = parseNumber(argv[4]);
    if (!m || !n) {
        std::cerr << "hvhost: M and N must be numbers\n";
        return kExitFailure;
    }
    try {
        const hvhost::Plugin plugin(hvhost::locatePlugin(argv[1]));
        const hv::ArrayPtr image = hvhost::readTiff(argv[2]);
        const std::uint64_t windowDims[2] = {1, 2};
        const hv::ArrayPtr window = hv::createArray(hv::classid::kDouble, windowDims);
        static_cast<double*>(window->getData())[0] = *m;
        static_cast<double*>(window->getData())[1] = *n;

        const hvArray* inputs[2] = {image.get(), window.get()};
        std::vector<hv::ArrayPtr> outputs;
        try {
            outputs = hv::callExtension(plugin.entry(), 1, inputs);
        } catch (const hv::Error& error) {
            std::cerr << error.identifier() << ": " << error.what() << '\n';
            return kExitHostError;
        }
        if (!outputs[0]) {
            std::cerr << "hvhost: the extension left output slot 0 empty\n";
            return kExitFailure;
        }
        hvhost::writeTiff(argv[5], *outputs[0]);
    } catch (const std::exception& error) {
        std::cerr << "hvhost: " << error.what() << '\n';
        return kExitFailure;
    }
    return EXIT_SUCCESS;
}
