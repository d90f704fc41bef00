// The tracer on every bad input it must survive, run as the program a user starts: in a
// scratch directory, no arguments. Each row states the exact standard output, the tracer's
// own lines on standard error (libtiff may add its own, whose wording is not ours), the exit
// status, and every file the directory holds afterwards: inputs byte for byte unchanged,
// "new.tif" only when the run promises one, nothing else (no temporary file).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ring_generator.h"
#include "dir_snapshot.h"
#include "tiff_fixtures.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Files = fixtures::DirSnapshot;  // name -> content, "<dir>" for a directory

constexpr const char* kNotRead = "error image not read\n";


std::vector<std::string> tracerLines(const std::string& err) {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("ringtrace:", 0) == 0) lines.push_back(line);
    return lines;
}

// A small ring pair as the example generator makes it.
const ringgen::RingImages& ring() {
    static const ringgen::RingImages images = [] {
        ringgen::RingParams p;
        p.width = 24;
        p.height = 16;
        ringgen::RingImages r;
        std::string error;
        if (!ringgen::generateRing(p, &r, &error)) ADD_FAILURE() << error;
        return r;
    }();
    return images;
}

bool writePrimary(const fixtures::ScratchDir& d, const fixtures::Layout& layout = {}) {
    return fixtures::writeRgb8(d.file("outx.tif"), 24, 16, ring().primary, layout);
}
bool writeSecondary(const fixtures::ScratchDir& d, const fixtures::Layout& layout = {}) {
    return fixtures::writeRgb8(d.file("outx1.tif"), 24, 16, ring().secondary, layout);
}
bool writePair(const fixtures::ScratchDir& d) { return writePrimary(d) && writeSecondary(d); }
bool writeFlat(const std::string& path, std::uint32_t w, std::uint32_t h) {
    return fixtures::writeRgb8(path, w, h, Bytes(std::size_t{w} * h * 3, 100));
}

std::vector<std::uint16_t> widened(const Bytes& rgb) {
    std::vector<std::uint16_t> out(rgb.begin(), rgb.end());
    for (auto& v : out) v = static_cast<std::uint16_t>(v * 257);
    return out;
}

struct Row {
    const char* name;
    std::function<bool(const fixtures::ScratchDir&)> setup;
    int status;
    const char* out;                      // exact standard output
    std::vector<std::string> tracerErr;  // exact "ringtrace:" lines on standard error
    // Size of "new.tif" when the run must write it; {0, 0}: it must not exist afterwards.
    std::uint32_t width = 0, height = 0;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const std::vector<Row>& rows() {
    static const std::vector<Row> table = {
        {"BothMissing", [](auto&) { return true; }, 1, kNotRead, {}},
        {"PrimaryMissing", [](auto& d) { return writeSecondary(d); }, 1, kNotRead, {}},
        {"SecondaryMissing", [](auto& d) { return writePrimary(d); }, 1, kNotRead, {}, 24, 16},
        {"PrimaryEmpty",
         [](auto& d) { return fixtures::writeEmptyFile(d.file("outx.tif")) && writeSecondary(d); }, 1, kNotRead, {}},
        {"SecondaryEmpty",
         [](auto& d) { return writePrimary(d) && fixtures::writeEmptyFile(d.file("outx1.tif")); }, 1, kNotRead, {},
         24, 16},
        // The writer puts the directory after the pixels: a cut-off file has no header left.
        {"PrimaryTruncated",
         [](auto& d) {
             return writePair(d) && fixtures::writeTruncatedCopy(d.file("outx1.tif"), d.file("outx.tif"), 600);
         },
         1, kNotRead, {}},
        {"SecondaryTruncated",
         [](auto& d) {
             return writePair(d) && fixtures::writeTruncatedCopy(d.file("outx.tif"), d.file("outx1.tif"), 600);
         },
         1, kNotRead, {}, 24, 16},
        {"PrimaryNotTiff", [](auto& d) { return fixtures::writeNonTiff(d.file("outx.tif")) && writeSecondary(d); }, 1,
         kNotRead, {}},
        {"SecondaryNotTiff", [](auto& d) { return writePrimary(d) && fixtures::writeNonTiff(d.file("outx1.tif")); },
         1, kNotRead, {}, 24, 16},
        {"HugeClaim",
         [](auto& d) { return fixtures::writeHugeClaim(d.file("outx.tif")) && writeSecondary(d); }, 3, "",
         {"ringtrace: image of 100000 x 100000 pixels is larger than the 33554432 pixels this program can trace"}},
        {"OnePixel",
         [](auto& d) { return writeFlat(d.file("outx.tif"), 1, 1) && writeFlat(d.file("outx1.tif"), 1, 1); }, 0, "",
         {}, 1, 1},
        {"TwoBySeven",
         [](auto& d) { return writeFlat(d.file("outx.tif"), 2, 7) && writeFlat(d.file("outx1.tif"), 2, 7); }, 3, "",
         {"ringtrace: image of 2 x 7 pixels is too narrow to trace: it needs at least 3 columns"}},
        {"FourBySeven",
         [](auto& d) { return writeFlat(d.file("outx.tif"), 4, 7) && writeFlat(d.file("outx1.tif"), 4, 7); }, 0, "",
         {}, 4, 7},
        {"SecondaryLarger", [](auto& d) { return writePrimary(d) && writeFlat(d.file("outx1.tif"), 30, 20); }, 1,
         kNotRead, {}, 24, 16},
        {"SecondarySmaller", [](auto& d) { return writePrimary(d) && writeFlat(d.file("outx1.tif"), 10, 9); }, 1,
         kNotRead, {}, 24, 16},
        {"Tiled",
         [](auto& d) {
             const fixtures::Layout tiled{fixtures::Compression::None, true};
             return writePrimary(d, tiled) && writeSecondary(d, tiled);
         },
         0, "", {}, 24, 16},
        {"SixteenBit",
         [](auto& d) {
             return fixtures::writeRgb16(d.file("outx.tif"), 24, 16, widened(ring().primary)) &&
                    fixtures::writeRgb16(d.file("outx1.tif"), 24, 16, widened(ring().secondary));
         },
         0, "", {}, 24, 16},
        {"OutputIsDirectory",
         [](auto& d) { return writePair(d) && fs::create_directory(d.file("new.tif")); }, 2, "",
         {"ringtrace: cannot replace new.tif: Is a directory"}},
    };
    return table;
}

class TracerCatalogue : public ::testing::TestWithParam<Row> {};

TEST_P(TracerCatalogue, ExactMessagesStatusAndFiles) {
    const Row& row = GetParam();
    const fixtures::ScratchDir dir;
    ASSERT_TRUE(row.setup(dir)) << "could not prepare the inputs";
    const Files before = fixtures::snapshotDir(dir.path());

    const fixtures::RunResult run = fixtures::runProgram(RINGTRACE_BIN, {}, dir.path());
    ASSERT_TRUE(run.started) << run.spawnError;
    ASSERT_EQ(run.termSignal, 0) << "killed by signal " << run.termSignal << "\n" << run.err;
    EXPECT_EQ(run.exitCode, row.status) << run.err;
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(tracerLines(run.err), row.tracerErr) << run.err;

    Files after = fixtures::snapshotDir(dir.path());
    if (row.width != 0) {
        ASSERT_EQ(after.count("new.tif"), 1u) << "new.tif was not written";
        std::uint32_t w = 0, h = 0;
        std::vector<std::uint32_t> raster;
        EXPECT_TRUE(fixtures::readRgbaRaster(dir.file("new.tif"), &w, &h, &raster));
        EXPECT_EQ(w, row.width);
        EXPECT_EQ(h, row.height);
        after.erase("new.tif");
    }
    // Inputs untouched, a directory in new.tif's place still there, nothing added.
    EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(BadInputs, TracerCatalogue, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

// A directory the tracer may not write into: no new.tif can be created, and one left by an
// earlier run stays as it was. Root writes anywhere, so as root the program runs as the
// unprivileged user "nobody" (through setpriv) to meet the permission check at all.
TEST(TracerCatalogueReadOnly, ExistingOutputSurvivesAndNothingIsAdded) {
    const fixtures::ScratchDir dir;
    ASSERT_TRUE(writePair(dir));
    const std::string previous = "the result of an earlier run";
    std::ofstream(dir.file("new.tif"), std::ios::binary) << previous;
    const Files before = fixtures::snapshotDir(dir.path());

    std::string program = RINGTRACE_BIN;
    std::vector<std::string> args;
    if (geteuid() == 0) {
        if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root without setpriv to drop privileges";
        args = {"--reuid=65534", "--regid=65534", "--clear-groups"};
        for (const std::string& word : fixtures::programWords(program)) args.push_back(word);
        program = "/usr/bin/setpriv";
    }
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    const fixtures::RunResult run = fixtures::runProgram(program, args, dir.path());
    chmod(dir.path().c_str(), 0700);
    ASSERT_TRUE(run.started) << run.spawnError;
    if (geteuid() == 0 && run.exitCode != 2 && run.err.find("setpriv") != std::string::npos)
        GTEST_SKIP() << "cannot drop privileges here: " << run.err;

    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(tracerLines(run.err), std::vector<std::string>{"ringtrace: cannot create new.tif: Permission denied"})
        << run.err;
    EXPECT_EQ(fixtures::snapshotDir(dir.path()), before);
}

}  // namespace
