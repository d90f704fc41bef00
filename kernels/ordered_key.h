#pragma once

// Unsigned keys whose integer order is the median order, and back: every NaN
// becomes the canonical quiet NaN, above +inf, and -0 lies below +0.
//
// Local to each file that includes it (some are compiled with instruction sets
// that baseline code must never reach through a shared inline function).

#include <cstdint>
#include <cstring>

namespace mediankernels {

namespace {

template <typename T>
struct OrderedKey;

template <>
struct OrderedKey<uint8_t> {
    static constexpr int kBits = 8;
    static uint32_t key(uint8_t v) { return v; }
    static uint8_t value(uint32_t k) { return static_cast<uint8_t>(k); }
};
template <>
struct OrderedKey<uint16_t> {
    static constexpr int kBits = 16;
    static uint32_t key(uint16_t v) { return v; }
    static uint16_t value(uint32_t k) { return static_cast<uint16_t>(k); }
};
template <>
struct OrderedKey<int16_t> {
    static constexpr int kBits = 16;
    static uint32_t key(int16_t v) { return static_cast<uint16_t>(v) ^ 0x8000u; }
    static int16_t value(uint32_t k) { return static_cast<int16_t>(k ^ 0x8000u); }
};
template <>
struct OrderedKey<float> {
    static constexpr int kBits = 32;
    static uint32_t key(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        if ((bits & 0x7FFFFFFFu) > 0x7F800000u) bits = 0x7FC00000u;
        return bits & 0x80000000u ? ~bits : bits | 0x80000000u;
    }
    static float value(uint32_t k) {
        const uint32_t bits = k & 0x80000000u ? k & 0x7FFFFFFFu : ~k;
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
};

}  // namespace

}  // namespace mediankernels
