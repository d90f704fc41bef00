#pragma once

// How a fuzz input describes one call of the plug-in, shared by the fuzz target (which
// decodes it) and the seed generator (which encodes meaningful calls).
//
//   byte 0   input count: 2 below 0xC0, otherwise the low two bits (0..3)
//   byte 1   output count, as a signed byte modulo 4 (-3..3)
//   byte 2   image class: kClasses[byte % size]
//   byte 3   image flags: bit 0 complex, bits 1-2 extra dimensions (0..3),
//            bit 3 an empty image of 0 rows and a column count beyond 32 bits
//   byte 4,5 rows and columns, modulo 64; then one byte per extra dimension, modulo 4
//   byte     window class: double below 0xE0, otherwise kClasses[byte % size]
//   byte     window flags: bit 0 complex, bits 1-3 element count (0..7), bit 4 a column
//   values   for a double window, one per element: a tag byte, then
//            tag % 4 == 0: a signed byte, the value itself
//            tag % 4 == 1: a byte b, the value b / 16 - 2 (fractions, zero, negatives)
//            tag % 4 == 2: eight bytes, the raw little-endian double
//            tag % 4 == 3: a byte indexing kSpecialValues
//   rest     repeated to fill the image's (and a non-double window's) bytes
// Missing bytes read as zero, so every input decodes to some call.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace fuzzcall {

inline constexpr std::int32_t kClasses[] = {7, 9, 10, 11, 6, 3, 8, 12, 13, 14, 15,
                                            18, 0, 1, 2, 4, 5, 16, 17, 19, -1};
inline constexpr std::size_t kClassCount = sizeof(kClasses) / sizeof(kClasses[0]);

inline const double kSpecialValues[] = {
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    -0.0,
    1e300,
    -1e300,
    2147483647.0,
    2147483648.0,
    4294967297.0,
    9.3e18,
    -9.3e18,
    std::numeric_limits<double>::denorm_min(),
    0.999999,
    1.000001,
};
inline constexpr std::size_t kSpecialCount = sizeof(kSpecialValues) / sizeof(kSpecialValues[0]);

struct Call {
    int inputCount = 2;
    int outputCount = 1;
    std::int32_t imageClass = 9;
    bool imageComplex = false;
    std::vector<std::uint64_t> imageDims{4, 4};
    std::int32_t windowClass = 6;
    bool windowComplex = false;
    bool windowColumn = false;
    std::vector<double> windowValues{3, 3};  // double windows only
    int windowElements = 2;
    std::vector<std::uint8_t> fill;  // repeated over the data bytes
};

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    double rawDouble() {
        std::uint8_t bytes[8];
        for (auto& b : bytes) b = byte();
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) bits = bits << 8 | bytes[i];
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    std::vector<std::uint8_t> rest() {
        std::vector<std::uint8_t> out(data_ + (pos_ < size_ ? pos_ : size_), data_ + size_);
        pos_ = size_;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

inline Call decode(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    Call c;
    const std::uint8_t count = in.byte();
    c.inputCount = count < 0xC0 ? 2 : count & 3;
    c.outputCount = static_cast<std::int8_t>(in.byte()) % 4;
    c.imageClass = kClasses[in.byte() % kClassCount];
    const std::uint8_t imageFlags = in.byte();
    c.imageComplex = imageFlags & 1;
    const int extraDims = (imageFlags >> 1) & 3;
    c.imageDims = {static_cast<std::uint64_t>(in.byte() % 64), static_cast<std::uint64_t>(in.byte() % 64)};
    if (imageFlags & 8) c.imageDims = {0, (std::uint64_t{1} << 33) + c.imageDims[1]};
    for (int d = 0; d < extraDims; ++d) c.imageDims.push_back(in.byte() % 4);

    const std::uint8_t windowClass = in.byte();
    c.windowClass = windowClass < 0xE0 ? 6 : kClasses[windowClass % kClassCount];
    const std::uint8_t windowFlags = in.byte();
    c.windowComplex = windowFlags & 1;
    c.windowElements = (windowFlags >> 1) & 7;
    c.windowColumn = windowFlags & 16;
    c.windowValues.clear();
    if (c.windowClass == 6) {
        for (int e = 0; e < c.windowElements; ++e) {
            const std::uint8_t tag = in.byte();
            switch (tag % 4) {
                case 0: c.windowValues.push_back(static_cast<std::int8_t>(in.byte())); break;
                case 1: c.windowValues.push_back(in.byte() / 16.0 - 2.0); break;
                case 2: c.windowValues.push_back(in.rawDouble()); break;
                default: c.windowValues.push_back(kSpecialValues[in.byte() % kSpecialCount]); break;
            }
        }
    }
    c.fill = in.rest();
    return c;
}

// The inverse of decode for the calls the seed generator writes: counts 0..3, classes
// from kClasses, at most 63 rows and columns, window values as raw doubles.
inline std::vector<std::uint8_t> encode(const Call& c) {
    std::vector<std::uint8_t> out;
    auto classIndex = [](std::int32_t id) {
        for (std::size_t i = 0; i < kClassCount; ++i)
            if (kClasses[i] == id) return static_cast<std::uint8_t>(i);
        return std::uint8_t{0};
    };
    out.push_back(c.inputCount == 2 ? 0 : static_cast<std::uint8_t>(0xC0 | c.inputCount));
    out.push_back(static_cast<std::uint8_t>(static_cast<std::int8_t>(c.outputCount)));
    out.push_back(classIndex(c.imageClass));
    const int extra = static_cast<int>(c.imageDims.size()) - 2;
    out.push_back(static_cast<std::uint8_t>((c.imageComplex ? 1 : 0) | extra << 1));
    for (std::uint64_t d : c.imageDims) out.push_back(static_cast<std::uint8_t>(d));
    // 0xE0 + i is congruent to i modulo the class count only by accident; search instead.
    if (c.windowClass == 6) {
        out.push_back(0);
    } else {
        for (unsigned b = 0xE0; b <= 0xFF; ++b) {
            if (kClasses[b % kClassCount] == c.windowClass) {
                out.push_back(static_cast<std::uint8_t>(b));
                break;
            }
        }
    }
    out.push_back(static_cast<std::uint8_t>((c.windowComplex ? 1 : 0) | c.windowElements << 1 |
                                            (c.windowColumn ? 16 : 0)));
    if (c.windowClass == 6) {
        for (int e = 0; e < c.windowElements; ++e) {
            out.push_back(2);
            std::uint64_t bits;
            std::memcpy(&bits, &c.windowValues[static_cast<std::size_t>(e)], sizeof bits);
            for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
        }
    }
    out.insert(out.end(), c.fill.begin(), c.fill.end());
    return out;
}

}  // namespace fuzzcall
