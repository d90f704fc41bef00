// Folders of inputs for the command-line tests, and reading back what the program wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ring_generator.h"
#include "tiff_fixtures.h"

namespace ringtrace::testing {

inline std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint64_t fnv1a(const std::string& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3ull;
    return h;
}

// A generated ring pair in `dir` (created when missing).
inline void makeRing(const std::string& dir, int width, int height, uint64_t seed, bool zeroSupport = false) {
    std::filesystem::create_directories(dir);
    ringgen::RingParams p;
    p.width = width;
    p.height = height;
    p.seed = seed;
    p.zeroSupport = zeroSupport;
    std::string error;
    if (!ringgen::writeRingPair(dir, p, nullptr, &error)) throw std::runtime_error(error);
}

// Folders that each end with a different status, as a user meets them.
struct folderCase {
    const char* name;
    int status;                                  // of a plain run in the folder
    std::function<void(const std::string&)> make;  // fills the (existing) folder
};

inline std::vector<folderCase> folderCases() {
    return {
        {"good", 0, [](const std::string& d) { makeRing(d, 120, 80, 3); }},
        {"no-inputs", 1, [](const std::string&) {}},
        {"no-secondary", 1,
         [](const std::string& d) {
             makeRing(d, 64, 40, 5);
             std::filesystem::remove(d + "/outx1.tif");
         }},
        {"not-tiff", 1,
         [](const std::string& d) {
             fixtures::writeNonTiff(d + "/outx.tif");
             fixtures::writeNonTiff(d + "/outx1.tif");
         }},
        {"output-is-a-folder", 2,
         [](const std::string& d) {
             makeRing(d, 64, 40, 7);
             std::filesystem::create_directory(d + "/new.tif");
         }},
        {"too-large", 3,
         [](const std::string& d) {
             fixtures::writeHugeClaim(d + "/outx.tif");
             fixtures::writeHugeClaim(d + "/outx1.tif");
         }},
    };
}

}  // namespace ringtrace::testing
