#pragma once

// How one fuzz input becomes the tracer's two input files, shared by the fuzz target and
// the seed generator.
//
//   4 bytes, little-endian: bits 0-30 the length of "outx.tif" (cut to what is there),
//                           bit 31 set: there is no "outx1.tif" at all
//   then the bytes of "outx.tif", then the bytes of "outx1.tif"
// An empty second part means "outx1.tif" is a copy of "outx.tif", so a single valid TIFF
// is already a useful input.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzpair {

inline constexpr std::uint32_t kNoSecondary = 0x80000000u;

struct Pair {
    std::vector<std::uint8_t> primary;
    std::vector<std::uint8_t> secondary;
    bool secondaryMissing = false;
};

inline Pair decode(const std::uint8_t* data, std::size_t size) {
    std::uint32_t header = 0;
    for (std::size_t i = 0; i < 4 && i < size; ++i) header |= std::uint32_t{data[i]} << (8 * i);
    const std::size_t body = size > 4 ? size - 4 : 0;
    const std::uint8_t* p = data + (size > 4 ? 4 : size);
    const std::size_t first = (header & ~kNoSecondary) < body ? (header & ~kNoSecondary) : body;
    Pair pair;
    pair.primary.assign(p, p + first);
    pair.secondary.assign(p + first, p + body);
    pair.secondaryMissing = (header & kNoSecondary) != 0;
    if (pair.secondary.empty()) pair.secondary = pair.primary;
    return pair;
}

inline std::vector<std::uint8_t> encode(const std::vector<std::uint8_t>& primary,
                                        const std::vector<std::uint8_t>& secondary,
                                        bool secondaryMissing = false) {
    const std::uint32_t header =
        static_cast<std::uint32_t>(primary.size()) | (secondaryMissing ? kNoSecondary : 0u);
    std::vector<std::uint8_t> out;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(header >> (8 * i)));
    out.insert(out.end(), primary.begin(), primary.end());
    out.insert(out.end(), secondary.begin(), secondary.end());
    return out;
}

}  // namespace fuzzpair
