#pragma once

#include <string>
#include <vector>

#include "ring_generator.h"

namespace ringgen {

struct MakeRingOptions {
    RingParams params;
    std::string outDir = ".";
    bool help = false;
};

inline constexpr const char* kMakeRingUsage =
    "usage: make_ring [--width W] [--height H] [--seed S] [--drift ROWS] [--out DIR]\n"
    "Writes the tracer's input pair outx.tif and outx1.tif into DIR (default: .).\n"
    "--drift: the ridge leaves ROWS rows below where it enters (a spiral turn, not a\n"
    "closed ring), so the tracer's search needs many iterations; default 0.\n";

// Parses the arguments after the program name. Numbers must be plain decimal integers;
// sizes are checked against the generator's limits.
bool parseMakeRingArgs(const std::vector<std::string>& args, MakeRingOptions* options,
                       std::string* error);

}  // namespace ringgen
