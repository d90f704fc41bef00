// make_ring: writes a synthetic input pair for the tracer.

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "make_ring_args.h"
#include "ring_generator.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    ringgen::MakeRingOptions options;
    std::string error;
    if (!ringgen::parseMakeRingArgs(args, &options, &error)) {
        std::cerr << "make_ring: " << error << "\n" << ringgen::kMakeRingUsage;
        return 2;
    }
    if (options.help) {
        std::cout << ringgen::kMakeRingUsage;
        return 0;
    }
    if (!ringgen::writeRingPair(options.outDir, options.params, nullptr, &error)) {
        std::cerr << "make_ring: " << error << "\n";
        return 1;
    }
    const std::filesystem::path dir(options.outDir);
    std::cout << (dir / ringgen::kPrimaryName).string() << "\n"
              << (dir / ringgen::kSecondaryName).string() << "\n";
    return 0;
}
