#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

#include "png_reader.h"
#include "ring_generator.h"
#include "tiff_fixtures.h"

namespace {

namespace fs = std::filesystem;
using Pixel = std::pair<int, int>;  // (x, y), y counted from the top of the inputs

constexpr int kW = 64;
constexpr int kH = 32;

fixtures::RunResult ringview(const std::vector<std::string>& args, const std::string& cwd = "") {
    return fixtures::runProgram(RINGVIEW_PATH, args, cwd);
}

std::size_t entries(const std::string& dir) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// outx.tif from the generator; returns the primary's red plane, top row first.
std::vector<std::uint8_t> writePrimary(const std::string& dir) {
    ringgen::RingParams params;
    params.width = kW;
    params.height = kH;
    params.seed = 11;
    std::string error;
    EXPECT_TRUE(ringgen::writeRingPair(dir, params, nullptr, &error)) << error;
    ringgen::RingImages images;
    EXPECT_TRUE(ringgen::generateRing(params, &images, &error)) << error;
    std::vector<std::uint8_t> red;
    for (std::size_t i = 0; i < images.primary.size(); i += 3) red.push_back(images.primary[i]);
    return red;
}

// A result image the way the tracer writes it: upside down, 160 on the contour and
// 120 elsewhere, plus a few near-miss values that are not contour.
void writeResult(const std::string& path, const std::set<Pixel>& contour, int w = kW, int h = kH) {
    std::vector<std::uint8_t> stored(static_cast<std::size_t>(w) * h, 120);
    for (auto [x, y] : contour) stored[static_cast<std::size_t>(h - 1 - y) * w + x] = 160;
    for (int x = 0; x < w; x += 9) {
        const std::size_t i = static_cast<std::size_t>(h / 2) * w + x;
        if (stored[i] != 160) stored[i] = x % 2 ? 159 : 161;
    }
    ASSERT_TRUE(fixtures::writeGrey8(path, w, h, stored));
}

std::set<Pixel> zigzag() {
    std::set<Pixel> c;
    for (int x = 1; x < kW - 2; ++x) c.insert({x, 4 + (x / 3) % 20});
    c.insert({0, 0});  // corners: the mirror must not be off by one
    c.insert({kW - 1, kH - 1});
    return c;
}

void expectOverlay(const std::string& png, const std::vector<std::uint8_t>& red,
                   const std::set<Pixel>& contour) {
    testpng::Picture p;
    ASSERT_TRUE(testpng::readPng(png, &p)) << png;
    ASSERT_EQ(p.width, static_cast<std::uint32_t>(kW));
    ASSERT_EQ(p.height, static_cast<std::uint32_t>(kH));
    ASSERT_EQ(p.channels, 3);
    std::set<Pixel> coloured;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * kW + x;
            const std::uint8_t* px = &p.pixels[i * 3];
            if (px[0] != px[1] || px[1] != px[2]) {
                coloured.insert({x, y});
                EXPECT_EQ(px[0], 255);
                EXPECT_EQ(px[1], 0);
                EXPECT_EQ(px[2], 0);
            } else {
                EXPECT_EQ(px[0], red[i]) << "x " << x << " y " << y;
            }
        }
    }
    EXPECT_EQ(coloured, contour);
}

TEST(RingviewOverlay, ColouredPixelsAreExactlyTheContourInTheInputsOrientation) {
    fixtures::ScratchDir dir;
    const auto red = writePrimary(dir.path());
    writeResult(dir.file("new.tif"), zigzag());
    const auto r = ringview({}, dir.path());
    ASSERT_TRUE(r.started) << r.spawnError;
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("overlay.png"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::to_string(zigzag().size()) + " contour pixels"), std::string::npos)
        << r.out;
    expectOverlay(dir.file("overlay.png"), red, zigzag());
}

TEST(RingviewOverlay, TakesTheRunDirectoryAsAnArgument) {
    fixtures::ScratchDir dir;
    fs::create_directory(dir.file("run"));
    const auto red = writePrimary(dir.file("run"));
    const std::set<Pixel> none;
    writeResult(dir.file("run/new.tif"), none);
    const auto r = ringview({"run"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectOverlay(dir.file("run/overlay.png"), red, none);
    EXPECT_FALSE(fs::exists(dir.file("overlay.png")));
}

TEST(RingviewOverlay, HonoursThePrimaryImagesOrientationTag) {
    fixtures::ScratchDir dir;
    // Stored bottom row first and tagged so; the picture must still come out upright.
    std::vector<std::uint8_t> upright(kW * kH * 3), stored(kW * kH * 3);
    std::vector<std::uint8_t> red(kW * kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const auto v = static_cast<std::uint8_t>((x * 3 + y * 5) % 128);
            red[y * kW + x] = v;
            for (int c = 0; c < 3; ++c) stored[((kH - 1 - y) * kW + x) * 3 + c] = v;
        }
    }
    fixtures::Layout bottomUp;
    bottomUp.orientation = 4;  // bottom-left
    ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx.tif"), kW, kH, stored, bottomUp));
    writeResult(dir.file("new.tif"), zigzag());
    const auto r = ringview({dir.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectOverlay(dir.file("overlay.png"), red, zigzag());
}

// Every failure: a message naming the problem, status 1, and no overlay.png (nor any
// temporary file) in the run directory.
void expectFailure(const fixtures::ScratchDir& dir, const std::string& mention) {
    const std::size_t before = entries(dir.path());
    const auto r = ringview({dir.path()});
    ASSERT_TRUE(r.started) << r.spawnError;
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("ringview: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_FALSE(fs::is_regular_file(dir.file("overlay.png")));
    EXPECT_EQ(entries(dir.path()), before);
}

TEST(RingviewErrors, MissingInputs) {
    fixtures::ScratchDir dir;
    expectFailure(dir, "outx.tif");
    writeResult(dir.file("new.tif"), zigzag());
    expectFailure(dir, "outx.tif");
    fs::remove(dir.file("new.tif"));
    writePrimary(dir.path());
    expectFailure(dir, "new.tif");
}

TEST(RingviewErrors, SizeMismatchNamesBothSizes) {
    fixtures::ScratchDir dir;
    writePrimary(dir.path());
    writeResult(dir.file("new.tif"), {}, kW, kH - 1);
    expectFailure(dir, "64 x 31");
    writeResult(dir.file("new.tif"), {}, kW + 1, kH);
    expectFailure(dir, "64 x 32");
}

TEST(RingviewErrors, UnreadableInputs) {
    fixtures::ScratchDir dir;
    writePrimary(dir.path());
    ASSERT_TRUE(fixtures::writeRgb8(dir.file("new.tif"), kW, kH,
                                    std::vector<std::uint8_t>(kW * kH * 3, 160)));
    expectFailure(dir, "new.tif");
    ASSERT_TRUE(fixtures::writeNonTiff(dir.file("new.tif")));
    expectFailure(dir, "new.tif");
    writeResult(dir.file("new.tif"), {});
    ASSERT_TRUE(fixtures::writeEmptyFile(dir.file("outx.tif")));
    expectFailure(dir, "outx.tif");
}

TEST(RingviewErrors, UnwritableOverlayLeavesNoPartialFile) {
    fixtures::ScratchDir dir;
    writePrimary(dir.path());
    writeResult(dir.file("new.tif"), zigzag());
    fs::create_directory(dir.file("overlay.png"));
    std::ofstream(dir.file("overlay.png/keep")) << "x";
    expectFailure(dir, "overlay.png");
    EXPECT_TRUE(fs::exists(dir.file("overlay.png/keep")));
}

TEST(RingviewErrors, ReadOnlyDirectory) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    fixtures::ScratchDir dir;
    writePrimary(dir.path());
    writeResult(dir.file("new.tif"), zigzag());
    fs::permissions(dir.path(), fs::perms::owner_write, fs::perm_options::remove);
    expectFailure(dir, "overlay.png");
    fs::permissions(dir.path(), fs::perms::owner_write, fs::perm_options::add);
}

TEST(RingviewErrors, NonexistentDirectory) {
    fixtures::ScratchDir dir;
    const auto r = ringview({dir.file("nowhere")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("nowhere"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("nowhere")));
}

TEST(RingviewUsage, BadArgumentsGiveStatusTwoAndTheUsage) {
    fixtures::ScratchDir dir;
    for (const auto& args : std::vector<std::vector<std::string>>{{"a", "b"},
                                                                  {"--frobnicate"},
                                                                  {""},
                                                                  {"--grey"},
                                                                  {"--grey", "in.tif"},
                                                                  {"--grey", "a", "b", "c"}}) {
        const auto r = ringview(args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("usage: ringview"), std::string::npos) << r.err;
    }
    EXPECT_EQ(entries(dir.path()), 0u);
    const auto help = ringview({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--grey"), std::string::npos);
}

TEST(RingviewGrey, ConvertsAGreyscaleTiffToAGreyPng) {
    fixtures::ScratchDir dir;
    ASSERT_TRUE(
        fixtures::writeGreyUInt16(dir.file("in.tif"), 3, 2, {100, 200, 300, 400, 500, 600}));
    const auto r = ringview({"--grey", dir.file("in.tif"), dir.file("out.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("out.png"), std::string::npos);
    testpng::Picture p;
    ASSERT_TRUE(testpng::readPng(dir.file("out.png"), &p));
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.width, 3u);
    EXPECT_EQ(p.height, 2u);
    EXPECT_EQ(p.pixels, (std::vector<std::uint8_t>{0, 51, 102, 153, 204, 255}));
}

TEST(RingviewGrey, FailuresWriteNothing) {
    fixtures::ScratchDir dir;
    ASSERT_TRUE(fixtures::writeRgb8(dir.file("rgb.tif"), 1, 1, {1, 2, 3}));
    for (const char* input : {"rgb.tif", "missing.tif"}) {
        const auto r = ringview({"--grey", dir.file(input), dir.file("out.png")});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(input), std::string::npos) << r.err;
    }
    ASSERT_TRUE(fixtures::writeGrey8(dir.file("g.tif"), 1, 1, {9}));
    const auto r = ringview({"--grey", dir.file("g.tif"), dir.file("no/out.png")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(entries(dir.path()), 2u);
}

}  // namespace
