#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "run_program.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(ScratchDir, IsFreshAndUniqueAndRemovedWithItsContents) {
    std::string kept;
    {
        fixtures::ScratchDir a;
        fixtures::ScratchDir b;
        EXPECT_NE(a.path(), b.path());
        ASSERT_TRUE(fs::is_directory(a.path()));
        EXPECT_TRUE(fs::is_empty(a.path()));
        EXPECT_EQ(fs::path(a.file("x.tif")).parent_path(), fs::path(a.path()));
        fs::create_directories(fs::path(a.path()) / "sub" / "deeper");
        std::ofstream(a.file("sub/deeper/f.txt")) << "data";
        kept = a.path();
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST(RunProgram, CapturesBothStreamsAndTheExitCode) {
    const auto r =
        fixtures::runProgram("sh", {"-c", "printf 'to out'; printf 'to err' >&2; exit 3"});
    ASSERT_TRUE(r.started) << r.spawnError;
    EXPECT_EQ(r.out, "to out");
    EXPECT_EQ(r.err, "to err");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.termSignal, 0);
}

TEST(RunProgram, PassesArgumentsVerbatim) {
    const auto r = fixtures::runProgram("printf", {"[%s]", "two words", "$HOME", "'q'", ""});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.out, "[two words][$HOME]['q'][]");
}

TEST(RunProgram, RunsInTheGivenDirectory) {
    fixtures::ScratchDir dir;
    const auto r = fixtures::runProgram("pwd", {"-P"}, dir.path());
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.out, fs::canonical(dir.path()).string() + "\n");
}

TEST(RunProgram, ResolvesARelativeProgramAgainstTheCallersDirectory) {
    fixtures::ScratchDir dir;
    const fs::path rel = fs::relative("/bin/sh", fs::current_path());
    ASSERT_TRUE(rel.is_relative());
    ASSERT_NE(rel.string().find('/'), std::string::npos);
    const auto r = fixtures::runProgram(rel.string(), {"-c", "exit 0"}, dir.path());
    ASSERT_TRUE(r.started) << r.spawnError;
    EXPECT_EQ(r.exitCode, 0);
}

TEST(RunProgram, DoesNotDeadlockOnLargeOutputOnBothStreams) {
    const auto r = fixtures::runProgram(
        "sh", {"-c", "head -c 300000 /dev/zero >&2; head -c 200000 /dev/zero; exit 0"});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.err.size(), 300000u);
    EXPECT_EQ(r.out.size(), 200000u);
}

TEST(RunProgram, StandardInputIsEmpty) {
    const auto r = fixtures::runProgram("sh", {"-c", "cat; echo done"});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.out, "done\n");
}

TEST(RunProgram, ReportsSignalsAndProgramsThatCannotStart) {
    const auto killed = fixtures::runProgram("sh", {"-c", "kill -9 $$"});
    ASSERT_TRUE(killed.started);
    EXPECT_EQ(killed.termSignal, 9);
    EXPECT_EQ(killed.exitCode, -1);

    const auto missing = fixtures::runProgram("/nonexistent/program", {});
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.spawnError.empty());

    fixtures::ScratchDir dir;
    const auto badDir = fixtures::runProgram("sh", {"-c", "exit 0"}, dir.file("no-such-dir"));
    EXPECT_FALSE(badDir.started);
}

TEST(RunProgram, StartsProgramsOfThisBuildAndOfTheMachine) {
    // This test program is of this build: in a cross build run under an emulator it is
    // started through the emulator, and must not fail as a foreign executable.
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const auto r =
        fixtures::runProgram(self, {"--gtest_list_tests", "--gtest_filter=ScratchDir.*"});
    ASSERT_TRUE(r.started) << r.spawnError;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("IsFreshAndUniqueAndRemovedWithItsContents"), std::string::npos) << r.out;
    // The machine's own programs run as they are, whatever this build's processor.
    EXPECT_EQ(fixtures::programWords("/bin/sh"), std::vector<std::string>{"/bin/sh"});
    const auto words = fixtures::programWords(self);
    EXPECT_EQ(words.back(), self);
}

}  // namespace
