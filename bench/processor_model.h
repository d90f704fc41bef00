#pragma once

// The processor a benchmark ran on, for its report: timings from different
// processor families are not comparable, so every figure carries this.

#include <fstream>
#include <string>

namespace bench {

// The kernel's "model name" line (x86); on ARM, which has none, the
// implementer and part numbers.
inline std::string processorModel() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string implementer, part;
    for (std::string line; std::getline(cpuinfo, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const auto start = line.find_first_not_of(" \t", colon + 1);
        const std::string value = start == std::string::npos ? "" : line.substr(start);
        if (line.rfind("model name", 0) == 0) return value;
        if (line.rfind("CPU implementer", 0) == 0 && implementer.empty()) implementer = value;
        if (line.rfind("CPU part", 0) == 0 && part.empty()) part = value;
    }
    if (!implementer.empty()) return "CPU implementer " + implementer + ", part " + part;
    return "unknown processor";
}

}  // namespace bench
