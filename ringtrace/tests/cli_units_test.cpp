// The command line's small parts: sizes, the memory rule, and lines from many sources.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <string>

#include "cli/batch.h"
#include "cli_fixtures.h"
#include "cli/memory_plan.h"
#include "cli/options.h"
#include "cli/prefixed_lines.h"
#include "image_input.h"
#include "scratch_dir.h"

using namespace ringtrace::cli;

TEST(CliParts, MemorySizesAreWholeNumbersWithABinaryUnit) {
    uint64_t bytes = 0;
    EXPECT_TRUE(parseMemorySize("4096", bytes));
    EXPECT_EQ(bytes, 4096u);
    EXPECT_TRUE(parseMemorySize("512M", bytes));
    EXPECT_EQ(bytes, 512ull << 20);
    EXPECT_TRUE(parseMemorySize("3g", bytes));
    EXPECT_EQ(bytes, 3ull << 30);
    EXPECT_TRUE(parseMemorySize("16777215T", bytes));
    EXPECT_EQ(bytes, 16777215ull << 40);
    for (const char* bad : {"", "0", "0G", "G", "1.5G", "12GB", "-1", "1 G", "16777216T", "18446744073709551616"}) {
        EXPECT_FALSE(parseMemorySize(bad, bytes)) << bad;
    }
}

TEST(CliParts, APairsPeakFollowsItsImageSizeAndTheRuleAdmitsOneLargePairAlone) {
    const uint64_t fixed = kPeakFixedBytes;
    EXPECT_EQ(pairPeakBytes(0, 0), fixed);                                     // nothing readable
    EXPECT_EQ(pairPeakBytes(ringtrace::kMaxPixels + 1, 0), fixed);             // refused before any work
    EXPECT_EQ(pairPeakBytes(1000, 1000), fixed + 64000);
    EXPECT_EQ(pairPeakBytes(1000, 0), fixed + 64000);                          // missing secondary
    EXPECT_EQ(pairPeakBytes(1000, 5000), fixed + 64000 + 20000);               // read at its own size first
    EXPECT_EQ(pairPeakBytes(1000, ringtrace::kMaxPixels + 1), fixed + 64000);  // too large to be read

    EXPECT_TRUE(admits(0, 500, 100, 0));  // alone, whatever its size
    EXPECT_FALSE(admits(0, 500, 100, 1));
    EXPECT_TRUE(admits(60, 40, 100, 1));
    EXPECT_FALSE(admits(61, 40, 100, 1));
    EXPECT_FALSE(admits(UINT64_MAX - 10, 40, UINT64_MAX, 3));  // no overflow
    EXPECT_GE(defaultJobs(), 1);
    EXPECT_GT(defaultMemoryLimit(), 0u);
}

TEST(CliParts, LinesArriveWholeWithTheirPrefixHoweverTheBytesAreCut) {
    const std::string input = "one\ntwo\r\nthree\rprogress\r\033[K\nfour";
    const std::string expected = "D: one\nD: two\nD: three\nD: progress\nD: \033[K\nD: four\n";
    for (size_t cut = 1; cut <= input.size(); ++cut) {
        prefixedLines lines("D: ");
        std::string out;
        for (size_t at = 0; at < input.size(); at += cut) lines.feed(input.data() + at, std::min(cut, input.size() - at), out);
        lines.finish(out);
        EXPECT_EQ(out, expected) << "pieces of " << cut;
    }
    prefixedLines lines("D: ");
    std::string out;
    lines.feed("\n\n", 2, out);
    lines.finish(out);
    EXPECT_EQ(out, "D: \nD: \n");  // empty lines are kept, an empty end adds nothing

    const std::string endless(prefixedLines::kLongestLine + 10, 'x');
    out.clear();
    prefixedLines longLines("D: ");
    longLines.feed(endless.data(), endless.size(), out);
    longLines.finish(out);
    EXPECT_EQ(out, "D: " + endless.substr(0, prefixedLines::kLongestLine) + "\nD: xxxxxxxxxx\n");
}

TEST(CliParts, AFoldersResultLineSaysHowItsProcessEnded) {
    int status = -1;
    EXPECT_EQ(folderResult(0 << 8, status), "traced");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(folderResult(1 << 8, status), "error image not read");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(folderResult(3 << 8, status), "refused");
    EXPECT_EQ(folderResult(9 << 8, status), "failed with status 9");
    EXPECT_EQ(status, 9);
    EXPECT_EQ(folderResult(SIGSEGV, status), "ended abnormally (killed by signal 11, Segmentation fault)");
    EXPECT_EQ(status, EXIT_ABNORMAL);
}

TEST(CliParts, OptionsAndFoldersParseInAnyOrder) {
    settings s;
    std::string error;
    ASSERT_TRUE(parseArguments({"a", "-j3", "--memory=2G", "b", "--summary", "s.json", "--", "--csv", "-j"}, s, error))
        << error;
    EXPECT_EQ(s.folders, (std::vector<std::string>{"a", "b", "--csv", "-j"}));
    EXPECT_EQ(s.jobs, 3);
    EXPECT_EQ(s.memoryLimit, 2ull << 30);
    EXPECT_EQ(s.summaryPath, "s.json");
    EXPECT_EQ(s.csvPath, "");
    ASSERT_TRUE(parseArguments({"-", "--jobs", "1024"}, s, error));
    EXPECT_EQ(s.folders, (std::vector<std::string>{"-"}));
    EXPECT_EQ(s.jobs, 1024);
}

TEST(CliParts, AFoldersPeakIsReadFromItsImageHeadersAlone) {
    fixtures::ScratchDir dir;
    ringtrace::testing::makeRing(dir.path(), 90, 60, 1);
    EXPECT_EQ(folderPeakBytes(dir.path()), kPeakFixedBytes + 64 * 90 * 60);
    fixtures::writeTruncatedCopy(dir.file("outx1.tif"), dir.file("short.tif"), 200);
    std::filesystem::rename(dir.file("short.tif"), dir.file("outx1.tif"));  // a header, hardly any pixels
    EXPECT_EQ(folderPeakBytes(dir.path()), kPeakFixedBytes + 64 * 90 * 60);
    std::filesystem::remove(dir.file("outx.tif"));
    ASSERT_EQ(mkfifo(dir.file("outx.tif").c_str(), 0600), 0);  // would block a reader forever
    EXPECT_EQ(folderPeakBytes(dir.path()), kPeakFixedBytes);
}
