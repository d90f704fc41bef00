#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "ring_generator.h"
#include "tiff_fixtures.h"

namespace {

namespace fs = std::filesystem;

std::vector<char> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fixtures::RunResult makeRing(const std::vector<std::string>& args, const std::string& cwd = "") {
    return fixtures::runProgram(MAKE_RING_PATH, args, cwd);
}

TEST(MakeRing, DefaultsWriteTheDefaultPairIntoTheCurrentDirectory) {
    fixtures::ScratchDir dir;
    const auto r = makeRing({}, dir.path());
    ASSERT_TRUE(r.started) << r.spawnError;
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(ringgen::kPrimaryName), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(ringgen::kSecondaryName), std::string::npos) << r.out;

    std::uint32_t w = 0, h = 0;
    std::vector<std::uint32_t> raster;
    ASSERT_TRUE(fixtures::readRgbaRaster(dir.file(ringgen::kPrimaryName), &w, &h, &raster));
    EXPECT_EQ(w, 360u);
    EXPECT_EQ(h, 200u);
    // Default seed is 1: the same pair the library makes.
    ringgen::RingImages img;
    ASSERT_TRUE(ringgen::generateRing(ringgen::RingParams{}, &img, nullptr));
    EXPECT_EQ(raster, ringgen::toRgbaRaster(img.primary, 360, 200));
}

TEST(MakeRing, SameSeedGivesByteIdenticalFiles) {
    fixtures::ScratchDir dir;
    const std::vector<std::string> common{"--width", "64", "--height", "32"};
    auto with = [&](const char* seed, const char* out) {
        auto args = common;
        args.insert(args.end(), {"--seed", seed, "--out", dir.file(out)});
        const auto r = makeRing(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return std::pair(bytesOf(dir.file(std::string(out) + "/outx.tif")),
                         bytesOf(dir.file(std::string(out) + "/outx1.tif")));
    };
    const auto a = with("7", "a");
    const auto b = with("7", "b");
    const auto c = with("8", "c");
    ASSERT_FALSE(a.first.empty());
    EXPECT_EQ(a, b);
    EXPECT_NE(a.first, c.first);
    EXPECT_NE(a.second, c.second);
}

TEST(MakeRing, HelpPrintsUsage) {
    const auto r = makeRing({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("usage"), std::string::npos);
}

class MakeRingRejects : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(MakeRingRejects, WithAMessageANonZeroStatusAndNoFiles) {
    fixtures::ScratchDir dir;
    const auto r = makeRing(GetParam(), dir.path());
    ASSERT_TRUE(r.started);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("make_ring: "), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, MakeRingRejects,
    ::testing::Values(
        std::vector<std::string>{"--width", "7"}, std::vector<std::string>{"--height", "15"},
        std::vector<std::string>{"--width", "16385"},
        std::vector<std::string>{"--height", "99999999999"},
        std::vector<std::string>{"--width", "-360"}, std::vector<std::string>{"--width", "abc"},
        std::vector<std::string>{"--width", "36x"}, std::vector<std::string>{"--width", ""},
        std::vector<std::string>{"--seed", "-1"}, std::vector<std::string>{"--seed", "1.5"},
        std::vector<std::string>{"--out", ""}, std::vector<std::string>{"--width"},
        std::vector<std::string>{"--frobnicate"}, std::vector<std::string>{"360"}));

TEST(MakeRing, UnwritableOutputDirectoryFails) {
    fixtures::ScratchDir dir;
    std::ofstream(dir.file("plain")) << "x";
    const auto r = makeRing({"--out", dir.file("plain/sub")});
    ASSERT_TRUE(r.started);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("plain/sub"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("plain/sub")));
}

}  // namespace
