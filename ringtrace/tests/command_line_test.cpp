// The program's command line, run as people run it: the plain run stays what it always was,
// help and version, and every usage error refused before anything is touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_fixtures.h"
#include "dir_snapshot.h"
#include "run_program.h"
#include "scratch_dir.h"

using namespace ringtrace::testing;

namespace {

fixtures::RunResult runRingtrace(const std::vector<std::string>& args, const std::string& dir) {
    return fixtures::runProgram(RINGTRACE_BIN, args, dir);
}

}  // namespace

// The bundled example's "new.tif" as the program wrote it before it had a command line.
constexpr uint64_t kExampleHash = 0x24f2174d3b044059ull;
constexpr size_t kExampleBytes = 73346;

TEST(CommandLine, ThePlainRunOfTheBundledExampleIsUnchangedAndEveryModeWritesTheSameImage) {
    fixtures::ScratchDir root;
    const std::string plain = root.file("plain");
    makeRing(plain, 360, 200, 1);  // what `make run` traces
    const auto run = runRingtrace({}, plain);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const std::string image = bytesOf(plain + "/new.tif");
    EXPECT_EQ(image.size(), kExampleBytes);
    EXPECT_EQ(fnv1a(image), kExampleHash);
    EXPECT_EQ(fixtures::snapshotDir(plain).size(), 3u);  // the inputs and new.tif, nothing else

    // With files beside it, and as a folder of a batch, one or two at a time.
    const std::string withFiles = root.file("with-files");
    makeRing(withFiles, 360, 200, 1);
    EXPECT_EQ(runRingtrace({"--summary", "s.json", "--csv", "c.csv"}, withFiles).exitCode, 0);
    EXPECT_EQ(bytesOf(withFiles + "/new.tif"), image);
    for (const char* jobs : {"1", "2"}) {
        const std::string batch = root.file(std::string("batch-") + jobs);
        makeRing(batch, 360, 200, 1);
        const auto r = runRingtrace({"-j", jobs, batch}, "");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, batch + ": traced\n");
        EXPECT_EQ(bytesOf(batch + "/new.tif"), image) << jobs;
    }
}

TEST(CommandLine, HelpAndVersionSayWhatTheyShouldAndTouchNothing) {
    fixtures::ScratchDir dir;
    makeRing(dir.path(), 64, 40, 2);
    const auto before = fixtures::snapshotDir(dir.path());

    const auto help = runRingtrace({"--help"}, dir.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    for (const char* needle : {"usage: ringtrace", "-j, --jobs N", "--memory SIZE", "--summary FILE", "--csv FILE",
                               "--help", "--version", "Exit status", "\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  4 ",
                               "\n  64 ", "error image not read"}) {
        EXPECT_NE(help.out.find(needle), std::string::npos) << needle;
    }
    EXPECT_EQ(runRingtrace({"-h"}, dir.path()).out, help.out);
    // Help wins wherever it stands, as long as the rest parses.
    EXPECT_EQ(runRingtrace({"-j", "2", "nosuchfolder", "--help"}, dir.path()).exitCode, 0);

    const auto version = runRingtrace({"--version"}, dir.path());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("ringtrace ") + RINGTRACE_VERSION + "\n");
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(fixtures::snapshotDir(dir.path()), before);
}

TEST(CommandLine, UsageErrorsGiveStatus64AndTouchNothing) {
    fixtures::ScratchDir root;
    makeRing(root.file("a"), 64, 40, 2);
    std::ofstream(root.file("plain.txt")) << "not a folder";
    const auto rootBefore = fixtures::snapshotDir(root.path());
    const auto folderBefore = fixtures::snapshotDir(root.file("a"));

    struct usageCase {
        std::vector<std::string> args;
        std::string message;
        bool inFolder = false;  // run in folder a rather than above it
    };
    const std::vector<usageCase> cases = {
        {{"--frob"}, "unknown option '--frob'"},
        {{"-x", "a"}, "unknown option '-x'"},
        {{"a", "missing"}, "no folder 'missing'"},
        {{"plain.txt"}, "'plain.txt' is not a folder"},
        {{"a", "./a"}, "folder './a' is named twice (also as 'a')"},
        {{""}, "empty folder name"},
        {{"-j"}, "option '-j' needs a value"},
        {{"-j", "0", "a"}, "needs a whole number from 1 to 1024, not '0'"},
        {{"-jx", "a"}, "needs a whole number"},
        {{"--jobs=2000", "a"}, "needs a whole number"},
        {{"--memory", "lots", "a"}, "option '--memory' needs a size"},
        {{"--memory=0", "a"}, "option '--memory' needs a size"},
        {{"--memory", "99999999999T", "a"}, "option '--memory' needs a size"},
        {{"--summary", "sub/s.json", "a"}, "give a file name without '/'"},
        {{"--summary", "new.tif", "a"}, "would replace a folder's new.tif"},
        {{"--csv", "outx.tif", "a"}, "would replace a folder's outx.tif"},
        {{"--csv", "x", "--summary", "x", "a"}, "name the same file"},
        {{"--summary="}, "'--summary' needs a file name"},
        {{"--help=yes"}, "option '--help' takes no value"},
        {{"--summary", "nodir/s.json"}, "no folder 'nodir'", true},
        {{"--csv", "./outx1.tif"}, "would replace outx1.tif", true},
        {{"--summary", ".."}, "does not name a file", true},
    };
    for (const auto& c : cases) {
        const auto run = runRingtrace(c.args, c.inFolder ? root.file("a") : root.path());
        std::string shown;
        for (const auto& a : c.args) shown += "[" + a + "] ";
        EXPECT_EQ(run.exitCode, 64) << shown << run.err;
        EXPECT_EQ(run.out, "") << shown;
        EXPECT_EQ(run.err.rfind("ringtrace: ", 0), 0u) << shown << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << shown << run.err;
        EXPECT_NE(run.err.find("Try 'ringtrace --help'"), std::string::npos) << shown;
    }
    EXPECT_EQ(fixtures::snapshotDir(root.path()), rootBefore);
    EXPECT_EQ(fixtures::snapshotDir(root.file("a")), folderBefore);
}
