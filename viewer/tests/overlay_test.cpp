#include "overlay.h"

#include <gtest/gtest.h>

namespace {

using ringview::GreyImage;
using ringview::Plane8;

Plane8 plane(std::uint32_t w, std::uint32_t h) {
    Plane8 p{w, h, {}};
    for (std::uint32_t i = 0; i < w * h; ++i) p.pixels.push_back(static_cast<std::uint8_t>(10 + i));
    return p;
}

GreyImage background(std::uint32_t w, std::uint32_t h) {
    GreyImage g;
    g.width = w;
    g.height = h;
    g.values.assign(std::size_t{w} * h, 120.0);
    return g;
}

std::array<std::uint8_t, 3> at(const ringview::RgbImage& img, std::uint32_t x, std::uint32_t y) {
    const std::size_t i = (std::size_t{y} * img.width + x) * 3;
    return {img.pixels[i], img.pixels[i + 1], img.pixels[i + 2]};
}

TEST(Overlay, MarkRowsAreMirroredBackToThePicture) {
    const Plane8 red = plane(4, 3);
    GreyImage marks = background(4, 3);
    marks.values[0 * 4 + 1] = 160.0;  // stored row 0 is picture row 2
    marks.values[2 * 4 + 3] = 160.0;  // stored row 2 is picture row 0
    std::uint64_t count = 0;
    const auto img = ringview::composeOverlay(red, marks, &count);
    ASSERT_EQ(img.width, 4u);
    ASSERT_EQ(img.height, 3u);
    EXPECT_EQ(count, 2u);
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 4; ++x) {
            const bool contour = (x == 1 && y == 2) || (x == 3 && y == 0);
            const std::uint8_t g = red.pixels[y * 4 + x];
            const std::array<std::uint8_t, 3> want =
                contour ? std::array<std::uint8_t, 3>{255, 0, 0} : std::array{g, g, g};
            EXPECT_EQ(at(img, x, y), want) << "x " << x << " y " << y;
        }
    }
}

TEST(Overlay, OnlyTheExactMarkValueIsContour) {
    const Plane8 red = plane(5, 1);
    GreyImage marks = background(5, 1);
    marks.values = {159.0, 160.0, 161.0, 160.5, 255.0};
    std::uint64_t count = 0;
    const auto img = ringview::composeOverlay(red, marks, &count);
    EXPECT_EQ(count, 1u);
    for (std::uint32_t x = 0; x < 5; ++x) {
        const auto px = at(img, x, 0);
        EXPECT_EQ(px[0] != px[1], x == 1) << "x " << x;
    }
}

TEST(Overlay, NoContourLeavesAGreyCopyOfTheRedPlane) {
    Plane8 red = plane(3, 2);
    red.pixels[4] = 255;  // even full-scale red stays grey, never the contour colour
    std::uint64_t count = 7;
    const auto img = ringview::composeOverlay(red, background(3, 2), &count);
    EXPECT_EQ(count, 0u);
    for (std::size_t i = 0; i < red.pixels.size(); ++i) {
        EXPECT_EQ(img.pixels[i * 3], red.pixels[i]);
        EXPECT_EQ(img.pixels[i * 3 + 1], red.pixels[i]);
        EXPECT_EQ(img.pixels[i * 3 + 2], red.pixels[i]);
    }
}

}  // namespace
