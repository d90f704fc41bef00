#include "png_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "png_reader.h"
#include "tiff_fixtures.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ramp(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 37 + 5);
    return v;
}

TEST(PngOutput, ColourAndGreyPicturesReadBackUnchanged) {
    fixtures::ScratchDir dir;
    std::string error;
    const auto rgb = ramp(5 * 3 * 3);
    ASSERT_TRUE(ringview::writePngAtomically(dir.file("c.png"), 5, 3, 3, rgb, &error)) << error;
    const auto grey = ramp(7 * 2);
    ASSERT_TRUE(ringview::writePngAtomically(dir.file("g.png"), 7, 2, 1, grey, &error)) << error;

    testpng::Picture p;
    ASSERT_TRUE(testpng::readPng(dir.file("c.png"), &p));
    EXPECT_EQ(p.width, 5u);
    EXPECT_EQ(p.height, 3u);
    EXPECT_EQ(p.channels, 3);
    EXPECT_EQ(p.pixels, rgb);
    ASSERT_TRUE(testpng::readPng(dir.file("g.png"), &p));
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.pixels, grey);
    // Only the two pictures: no temporary files left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(PngOutput, ReplacesAnExistingFileAndGetsOrdinaryPermissions) {
    fixtures::ScratchDir dir;
    std::ofstream(dir.file("p.png")) << std::string(100000, 'x');
    const mode_t old = umask(022);
    std::string error;
    const bool ok = ringview::writePngAtomically(dir.file("p.png"), 2, 2, 1, ramp(4), &error);
    umask(old);
    ASSERT_TRUE(ok) << error;
    testpng::Picture p;
    ASSERT_TRUE(testpng::readPng(dir.file("p.png"), &p));
    EXPECT_EQ(p.pixels, ramp(4));
    struct stat st {};
    ASSERT_EQ(stat(dir.file("p.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(PngOutput, AFailedWriteLeavesNothingBehind) {
    fixtures::ScratchDir dir;
    // The target is a directory with something in it: the final rename must fail.
    fs::create_directory(dir.file("p.png"));
    std::ofstream(dir.file("p.png/keep")) << "x";
    std::string error;
    EXPECT_FALSE(ringview::writePngAtomically(dir.file("p.png"), 2, 2, 1, ramp(4), &error));
    EXPECT_NE(error.find("p.png"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(dir.file("p.png")));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    error.clear();
    EXPECT_FALSE(
        ringview::writePngAtomically(dir.file("no/such/dir.png"), 2, 2, 1, ramp(4), &error));
    EXPECT_NE(error.find("no/such/dir.png"), std::string::npos) << error;
}

TEST(PngOutput, RefusesPixelsThatDoNotMatchTheSize) {
    fixtures::ScratchDir dir;
    std::string error;
    EXPECT_FALSE(ringview::writePngAtomically(dir.file("p.png"), 2, 2, 3, ramp(4), &error));
    EXPECT_FALSE(ringview::writePngAtomically(dir.file("p.png"), 0, 2, 1, {}, &error));
    EXPECT_FALSE(ringview::writePngAtomically(dir.file("p.png"), 2, 2, 2, ramp(8), &error));
    EXPECT_FALSE(fs::exists(dir.file("p.png")));
}

}  // namespace
