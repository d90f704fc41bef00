// The plug-in on every bad argument it must refuse. Through hvhost, as a user runs it:
// the exact host error line (or hvhost's own line for a file it cannot use), the exit
// status, and the directory afterwards (input unchanged byte for byte, an output only
// when the call succeeded, no partial file). Arguments hvhost cannot pass (a window of
// another class or size, a complex or three-dimensional image, another input count) go
// to plxFunction in-process through the host stand-ins, the way the host calls it.

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hv/host.h"
#include "plugin.h"
#include "tiff_array.h"
#include "dir_snapshot.h"
#include "tiff_fixtures.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Files = fixtures::DirSnapshot;  // name -> content, "<dir>" for a directory

const std::string kIds = "pictura:rankwin:";


// The lines hvhost and the host write; libtiff's own complaints about broken files are not ours.
std::vector<std::string> hostLines(const std::string& err) {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("hvhost:", 0) == 0 || line.rfind("pictura:", 0) == 0 || line.rfind("hv:", 0) == 0)
            lines.push_back(line);
    return lines;
}

std::string outOfRange(const std::string& window, const std::string& size) {
    return kIds + "windowOutOfRange: The window " + window +
           " must satisfy 1 <= m <= rows and 1 <= n <= columns of the " + size + " image.";
}
const std::string kNonFinite = kIds + "nonFiniteWindow: The window [m n] must hold finite values.";
const std::string kUnsupported =
    kIds + "unsupportedDataType: The image must be single, uint8, int16 or uint16 (class id 7, 9, 10 or 11).";

Bytes ramp(std::size_t n) {
    Bytes v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 37 % 251);
    return v;
}
bool grey(const std::string& path, std::uint32_t w, std::uint32_t h, const fixtures::Layout& layout = {}) {
    return fixtures::writeGrey8(path, w, h, ramp(std::size_t{w} * h), layout);
}
bool raw(const std::string& path, std::uint16_t format, std::uint16_t bits) {
    fixtures::PixelFormat f;
    f.bitsPerSample = bits;
    f.sampleFormat = format;
    const Bytes pixels = ramp(8 * 8 * bits / 8);
    return fixtures::writeTiff(path, 8, 8, f, pixels.data(), pixels.size());
}

struct HostRow {
    const char* name;
    std::function<bool(const fixtures::ScratchDir&)> setup;  // writes in.tif (or not)
    const char* m;
    const char* n;
    int status;
    std::vector<std::string> lines;  // exact host lines on standard error
    hvClassID outClass = 0;          // success: class and size of out.tif
    std::uint64_t outRows = 0, outColumns = 0;
};

void PrintTo(const HostRow& row, std::ostream* os) { *os << row.name; }

auto in8x8 = [](const fixtures::ScratchDir& d) { return grey(d.file("in.tif"), 8, 8); };

const std::vector<HostRow>& hostRows() {
    static const std::vector<HostRow> table = {
        {"WindowZero", in8x8, "0", "3", 2, {outOfRange("[0 3]", "8x8")}},
        {"WindowRowsPlusOne", in8x8, "9", "1", 2, {outOfRange("[9 1]", "8x8")}},
        {"WindowColumnsPlusOne", in8x8, "1", "9", 2, {outOfRange("[1 9]", "8x8")}},
        {"WindowNaN", in8x8, "nan", "3", 2, {kNonFinite}},
        {"WindowInf", in8x8, "inf", "3", 2, {kNonFinite}},
        {"WindowMinusInf", in8x8, "3", "-inf", 2, {kNonFinite}},
        {"WindowNegative", in8x8, "-1", "3", 2, {outOfRange("[-1 3]", "8x8")}},
        {"WindowBelowOne", in8x8, "0.9", "3", 2, {outOfRange("[0 3]", "8x8")}},
        // Shown clamped: beyond the 64-bit range the value cannot be printed as an integer.
        {"WindowBeyondInt64", in8x8, "1e300", "3", 2, {outOfRange("[9000000000000000000 3]", "8x8")}},
        {"WindowBeyondInt32", in8x8, "2147483648", "3", 2, {outOfRange("[2147483648 3]", "8x8")}},
        {"InputMissing", [](auto&) { return true; }, "3", "3", 1, {"hvhost: in.tif: cannot open as TIFF"}},
        {"InputEmpty", [](auto& d) { return fixtures::writeEmptyFile(d.file("in.tif")); }, "3", "3", 1,
         {"hvhost: in.tif: cannot open as TIFF"}},
        {"InputTruncated",
         [](auto& d) { return grey(d.file("whole"), 8, 8) && fixtures::writeTruncatedCopy(d.file("whole"), d.file("in.tif"), 40) &&
                              fs::remove(d.file("whole")); },
         "3", "3", 1, {"hvhost: in.tif: cannot open as TIFF"}},
        {"InputNotTiff", [](auto& d) { return fixtures::writeNonTiff(d.file("in.tif")); }, "3", "3", 1,
         {"hvhost: in.tif: cannot open as TIFF"}},
        {"HugeClaim", [](auto& d) { return fixtures::writeHugeClaim(d.file("in.tif")); }, "3", "3", 1,
         {"hvhost: in.tif: not a single-channel image"}},
        {"Rgb", [](auto& d) { return fixtures::writeRgb8(d.file("in.tif"), 8, 8, ramp(8 * 8 * 3)); }, "3", "3", 1,
         {"hvhost: in.tif: not a single-channel image"}},
        {"Tiled", [](auto& d) { return grey(d.file("in.tif"), 8, 8, {fixtures::Compression::None, true}); }, "3", "3",
         1, {"hvhost: in.tif: tiled images are not supported"}},
        {"Double", [](auto& d) { return raw(d.file("in.tif"), SAMPLEFORMAT_IEEEFP, 64); }, "3", "3", 2,
         {kUnsupported}},
        {"Int32", [](auto& d) { return raw(d.file("in.tif"), SAMPLEFORMAT_INT, 32); }, "3", "3", 2, {kUnsupported}},
        {"OnePixel", [](auto& d) { return grey(d.file("in.tif"), 1, 1); }, "1", "1", 0, {}, hv::classid::kUint8, 1, 1},
        {"OnePixelWindowTwo", [](auto& d) { return grey(d.file("in.tif"), 1, 1); }, "2", "1", 2,
         {outOfRange("[2 1]", "1x1")}},
        {"TwoBySeven", [](auto& d) { return grey(d.file("in.tif"), 2, 7); }, "3", "3", 2,
         {outOfRange("[3 3]", "7x2")}},
        {"TwoBySevenWhole", [](auto& d) { return grey(d.file("in.tif"), 2, 7); }, "7", "2", 0, {},
         hv::classid::kUint8, 1, 1},
        {"FourBySeven", [](auto& d) { return grey(d.file("in.tif"), 4, 7); }, "4", "4", 0, {}, hv::classid::kUint8, 4,
         1},
        {"SixteenBit",
         [](auto& d) { return fixtures::writeGreyUInt16(d.file("in.tif"), 8, 8, std::vector<std::uint16_t>(64, 900)); },
         "3", "2", 0, {}, hv::classid::kUint16, 6, 7},
        {"OutputIsDirectory", [](auto& d) { return in8x8(d) && fs::create_directory(d.file("out.tif")); }, "3", "3", 1,
         {"hvhost: out.tif: cannot move the written image into place"}},
    };
    return table;
}

class RankwinHostCatalogue : public ::testing::TestWithParam<HostRow> {};

TEST_P(RankwinHostCatalogue, ExactErrorStatusAndFiles) {
    const HostRow& row = GetParam();
    const fixtures::ScratchDir dir;
    ASSERT_TRUE(row.setup(dir)) << "could not prepare the input";
    const Files before = fixtures::snapshotDir(dir.path());

    const fixtures::RunResult run =
        fixtures::runProgram(HVHOST, {RANKWIN_PLUGIN, "in.tif", row.m, row.n, "out.tif"}, dir.path());
    ASSERT_TRUE(run.started) << run.spawnError;
    ASSERT_EQ(run.termSignal, 0) << "killed by signal " << run.termSignal << "\n" << run.err;
    EXPECT_EQ(run.exitCode, row.status) << run.err;
    EXPECT_EQ(hostLines(run.err), row.lines) << run.err;
    if (row.status == 2) {
        EXPECT_EQ(run.err, row.lines.at(0) + "\n");  // nothing but the host error
    }
    EXPECT_EQ(run.out, "");

    Files after = fixtures::snapshotDir(dir.path());
    if (row.outClass != 0) {
        ASSERT_EQ(after.count("out.tif"), 1u);
        const hv::ArrayPtr out = hvhost::readTiff(dir.file("out.tif"));
        EXPECT_EQ(out->getClassID(), row.outClass);
        EXPECT_EQ(out->get_dimensions()[0], row.outRows);
        EXPECT_EQ(out->get_dimensions()[1], row.outColumns);
        after.erase("out.tif");
    }
    EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(BadArguments, RankwinHostCatalogue, ::testing::ValuesIn(hostRows()),
                         [](const ::testing::TestParamInfo<HostRow>& info) { return info.param.name; });

// In-process calls: arguments only a host (not hvhost) can pass.
hv::ArrayPtr image(hvClassID id, std::vector<std::uint64_t> dims, hvComplexity complexity = hvReal) {
    hv::ArrayPtr a = hv::createArray(id, dims, complexity);
    const std::size_t bytes = a->getNumberOfElements() * a->getElementSize();
    auto* p = static_cast<std::uint8_t*>(a->getData());
    for (std::size_t i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(i * 13);
    if (a->isComplex()) std::memset(a->getImagData(), 7, bytes);
    return a;
}
hv::ArrayPtr doubles(std::vector<double> values) {
    const std::uint64_t dims[2] = {1, values.size()};
    hv::ArrayPtr a = hv::createArray(hv::classid::kDouble, dims);
    if (!values.empty()) std::memcpy(a->getData(), values.data(), values.size() * sizeof(double));
    return a;
}

struct CallRow {
    const char* name;
    std::function<std::vector<hv::ArrayPtr>()> inputs;
    std::string error;  // identifier: message
};

void PrintTo(const CallRow& row, std::ostream* os) { *os << row.name; }

std::vector<hv::ArrayPtr> list(hv::ArrayPtr a) {
    std::vector<hv::ArrayPtr> v;
    v.push_back(std::move(a));
    return v;
}
std::vector<hv::ArrayPtr> list(hv::ArrayPtr a, hv::ArrayPtr b) {
    std::vector<hv::ArrayPtr> v = list(std::move(a));
    v.push_back(std::move(b));
    return v;
}

const std::string kBadWindow = kIds + "badWindowArgument: The window must be a real array of at least two doubles [m n].";
const std::string kBadImage = kIds + "badImageArgument: The image must be a real array with at most two dimensions.";
const std::string kBadCount =
    kIds + "badNumInputs: Expected exactly two inputs: a two-dimensional image and a window [m n].";

const std::vector<CallRow>& callRows() {
    namespace c = hv::classid;
    static const std::vector<CallRow> table = {
        {"WindowOneElement", [] { return list(image(c::kUint8, {8, 8}), doubles({3})); }, kBadWindow},
        {"WindowEmpty", [] { return list(image(c::kUint8, {8, 8}), doubles({})); }, kBadWindow},
        {"WindowInt32", [] { return list(image(c::kUint8, {8, 8}), image(c::kInt32, {1, 2})); }, kBadWindow},
        {"WindowSingle", [] { return list(image(c::kUint8, {8, 8}), image(c::kSingle, {1, 2})); }, kBadWindow},
        {"WindowComplex",
         [] { return list(image(c::kUint8, {8, 8}), image(c::kDouble, {1, 2}, hvComplex)); }, kBadWindow},
        {"ImageComplex", [] { return list(image(c::kSingle, {8, 8}, hvComplex), doubles({3, 3})); }, kBadImage},
        {"ImageThreeDimensional", [] { return list(image(c::kUint8, {8, 8, 2}), doubles({3, 3})); }, kBadImage},
        {"NoInputs", [] { return std::vector<hv::ArrayPtr>{}; }, kBadCount},
        {"OneInput", [] { return list(image(c::kUint8, {8, 8})); }, kBadCount},
        {"ThreeInputs",
         [] {
             auto v = list(image(c::kUint8, {8, 8}), doubles({3, 3}));
             v.push_back(doubles({1, 1}));
             return v;
         },
         kBadCount},
    };
    return table;
}

class RankwinCallCatalogue : public ::testing::TestWithParam<CallRow> {};

TEST_P(RankwinCallCatalogue, RaisesBeforeCreatingAnythingAndLeavesInputsAlone) {
    static const hvhost::Plugin plugin(RANKWIN_PLUGIN);
    const CallRow& row = GetParam();
    const std::vector<hv::ArrayPtr> inputs = row.inputs();
    std::vector<const hvArray*> pointers;
    std::vector<std::string> contents;
    for (const auto& a : inputs) {
        pointers.push_back(a.get());
        contents.emplace_back(static_cast<const char*>(a->getData()), a->getNumberOfElements() * a->getElementSize());
    }
    std::vector<hv::CreatedArray> created;
    std::string raised;
    try {
        hv::callExtension(plugin.entry(), 1, pointers, &created);
    } catch (const hv::Error& error) {
        raised = error.identifier() + ": " + error.what();
    }
    EXPECT_EQ(raised, row.error);
    EXPECT_TRUE(created.empty()) << "the call created " << created.size() << " arrays before refusing";
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(std::string(static_cast<const char*>(inputs[i]->getData()), contents[i].size()), contents[i])
            << "input " << i << " changed";
    }
}

INSTANTIATE_TEST_SUITE_P(BadArguments, RankwinCallCatalogue, ::testing::ValuesIn(callRows()),
                         [](const ::testing::TestParamInfo<CallRow>& info) { return info.param.name; });

}  // namespace
