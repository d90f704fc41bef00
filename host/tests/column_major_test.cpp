// Image rows to column-major arrays and back: the tiled conversion against the plain one.

#include "column_major.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using hvhost::BandLayout;

std::vector<unsigned char> pattern(std::size_t bytes, unsigned seed) {
    std::vector<unsigned char> out(bytes);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(x >> 24);
    }
    return out;
}

TEST(ColumnMajor, PlainConversionPutsRowElementsDownTheColumns) {
    // Rows 1 and 2 of a 3-row, 2-column array of 16-bit elements.
    const std::uint16_t band[2][2] = {{10, 11}, {20, 21}};
    std::uint16_t array[6] = {};
    const BandLayout layout{2, 2, 3, 1, 2, sizeof band[0]};
    hvhost::bandToColumnsPlain(reinterpret_cast<const unsigned char*>(band), layout,
                               reinterpret_cast<unsigned char*>(array));
    EXPECT_EQ(std::vector<int>(array, array + 6), (std::vector<int>{0, 10, 20, 0, 11, 21}));
    std::uint16_t back[2][2] = {};
    hvhost::columnsToBandPlain(reinterpret_cast<const unsigned char*>(array), layout,
                               reinterpret_cast<unsigned char*>(back));
    EXPECT_EQ(back[0][1], 11);
    EXPECT_EQ(back[1][0], 20);
}

// Every element size, shapes that are and are not multiples of a tile, bands anywhere in the
// array and band rows with padding after them: the tiled conversion writes exactly what the
// plain one writes, and nothing else.
TEST(ColumnMajor, TiledConversionEqualsPlainConversion) {
    struct Shape {
        std::size_t columns, height, firstRow, rows;
    };
    const Shape shapes[] = {{1, 1, 0, 1},       {16, 16, 0, 16},   {17, 33, 0, 33},
                            {40, 300, 256, 44}, {64, 256, 0, 256}, {5, 1000, 123, 300},
                            {300, 7, 2, 5},     {33, 64, 16, 32},  {2, 2, 1, 1}};
    for (const std::size_t size : {1u, 2u, 4u, 8u, 3u}) {
        for (const Shape& s : shapes) {
            for (const std::size_t padding : {0u, 5u}) {
                const BandLayout layout{size,       s.columns, s.height,
                                        s.firstRow, s.rows,    s.columns * size + padding};
                SCOPED_TRACE(testing::Message() << "size " << size << ", " << s.columns << " x "
                                                << s.height << ", rows " << s.firstRow << "+"
                                                << s.rows << ", padding " << padding);
                const std::size_t arrayBytes = s.columns * s.height * size;
                const std::size_t bandBytes = s.rows * layout.rowBytes;

                const auto band = pattern(bandBytes, static_cast<unsigned>(size + s.columns));
                auto tiled = pattern(arrayBytes, 7);
                auto plain = tiled;
                hvhost::bandToColumns(band.data(), layout, tiled.data());
                hvhost::bandToColumnsPlain(band.data(), layout, plain.data());
                EXPECT_EQ(tiled, plain);

                const auto array = pattern(arrayBytes, static_cast<unsigned>(size + s.height));
                auto tiledBand = pattern(bandBytes, 9);
                auto plainBand = tiledBand;
                hvhost::columnsToBand(array.data(), layout, tiledBand.data());
                hvhost::columnsToBandPlain(array.data(), layout, plainBand.data());
                EXPECT_EQ(tiledBand, plainBand);
            }
        }
    }
}

TEST(ColumnMajor, BandsCoverAColumnStretchOfAFewCacheLines) {
    for (const std::size_t size : {1u, 2u, 4u, 8u}) {
        EXPECT_GE(hvhost::bandRowsFor(size) * size, 64u) << size;
        EXPECT_EQ(hvhost::bandRowsFor(size) % (16 / size), 0u) << size;
    }
    EXPECT_GE(hvhost::bandRowsFor(3), 1u);
}

}  // namespace
