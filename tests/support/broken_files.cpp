#include <array>
#include <fstream>
#include <iterator>

#include "tiff_fixtures.h"

namespace fixtures {

namespace {

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

// Little-endian classic TIFF assembly.
void put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;

struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value;  // the value itself (left-justified) or an offset
};

void putEntry(std::vector<std::uint8_t>& b, const Entry& e) {
    put16(b, e.tag);
    put16(b, e.type);
    put32(b, e.count);
    if (e.type == kShort && e.count == 1) {
        put16(b, e.value);
        put16(b, 0);
    } else {
        put32(b, e.value);
    }
}

}  // namespace

bool writeTruncatedCopy(const std::string& source, const std::string& dest, std::size_t bytes) {
    std::ifstream in(source, std::ios::binary);
    if (!in) return false;
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    if (data.size() > bytes) data.resize(bytes);
    return writeBytes(dest, data);
}

bool writeHugeClaim(const std::string& path, std::uint32_t width, std::uint32_t height) {
    constexpr std::uint32_t kIfdOffset = 8;
    constexpr std::uint16_t kEntries = 11;
    constexpr std::uint32_t kBitsOffset = kIfdOffset + 2 + kEntries * 12 + 4;
    constexpr std::uint32_t kDataOffset = kBitsOffset + 6;
    constexpr std::uint32_t kDataBytes = 16;
    const std::array<Entry, kEntries> entries{{
        {256, kLong, 1, width},         // ImageWidth
        {257, kLong, 1, height},        // ImageLength
        {258, kShort, 3, kBitsOffset},  // BitsPerSample 8,8,8
        {259, kShort, 1, 1},            // Compression: none
        {262, kShort, 1, 2},            // Photometric: RGB
        {273, kLong, 1, kDataOffset},   // StripOffsets
        {274, kShort, 1, 1},            // Orientation: top-left
        {277, kShort, 1, 3},            // SamplesPerPixel
        {278, kLong, 1, height},        // RowsPerStrip: one strip
        {279, kLong, 1, kDataBytes},    // StripByteCounts
        {284, kShort, 1, 1},            // PlanarConfiguration: contiguous
    }};
    std::vector<std::uint8_t> b{'I', 'I'};
    put16(b, 42);
    put32(b, kIfdOffset);
    put16(b, kEntries);
    for (const Entry& e : entries) putEntry(b, e);
    put32(b, 0);  // no next directory
    for (int i = 0; i < 3; ++i) put16(b, 8);
    b.resize(b.size() + kDataBytes, 0x55);
    return writeBytes(path, b);
}

bool writeEmptyFile(const std::string& path) { return writeBytes(path, {}); }

bool writeNonTiff(const std::string& path) {
    const std::string text = "this is plain text, not an image\n";
    return writeBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

}  // namespace fixtures
