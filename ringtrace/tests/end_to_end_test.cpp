// The program from input files to "new.tif", run as people run it: no arguments, in the
// directory that holds the inputs.
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "output_image.h"
#include "ring_generator.h"
#include "tiff_fixtures.h"

using namespace ringtrace::testing;

namespace {

fixtures::RunResult trace(const fixtures::ScratchDir& dir) { return fixtures::runProgram(RINGTRACE_BIN, {}, dir.path()); }

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool allBackground(const greyImage& img) {
    for (uint8_t v : img.pixels) {
        if (v != 120) return false;
    }
    return true;
}

}  // namespace

TEST(EndToEnd, TracesGeneratedRingsOfSeveralSizes) {
    for (auto [W, H, seed] : {std::tuple{90, 60, 3}, std::tuple{360, 200, 1}, std::tuple{720, 400, 9}}) {
        fixtures::ScratchDir dir;
        ringgen::RingParams p;
        p.width = W;
        p.height = H;
        p.seed = static_cast<uint64_t>(seed);
        std::vector<double> ridge;
        std::string error;
        ASSERT_TRUE(ringgen::writeRingPair(dir.path(), p, &ridge, &error)) << error;
        const auto run = trace(dir);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "");
        greyImage img;
        ASSERT_TRUE(readGrey(dir.file("new.tif"), img));
        ASSERT_EQ(img.width, static_cast<uint32_t>(W));
        ASSERT_EQ(img.height, static_cast<uint32_t>(H));
        ASSERT_EQ(img.rowsRead, img.height);
        // Every column the contour crosses: its rows (in input orientation) lie on the ridge.
        double error_sum = 0;
        int columns = 0, firstColumn = W, lastColumn = -1;
        for (int x = 0; x < W; ++x) {
            double rows = 0;
            int n = 0;
            for (int r = 0; r < H; ++r) {
                const uint8_t v = img.at(static_cast<uint32_t>(x), static_cast<uint32_t>(r));
                ASSERT_TRUE(v == 120 || v == 160);
                if (v == 160) rows += H - 1 - r, ++n;
            }
            if (n == 0) continue;
            error_sum += std::fabs(rows / n - ridge[static_cast<size_t>(x)]);
            ++columns;
            firstColumn = std::min(firstColumn, x);
            lastColumn = std::max(lastColumn, x);
        }
        // Steps may jump a column, but the contour spans the traced band end to end.
        EXPECT_GE(columns, (W - 4) / 2) << W << "x" << H;
        EXPECT_EQ(firstColumn, 1);
        EXPECT_GE(lastColumn, W - 6);
        EXPECT_LT(error_sum / columns, 1.0) << W << "x" << H;
    }
}

TEST(EndToEnd, SameInputsGiveTheSameBytes) {
    fixtures::ScratchDir dir;
    ringgen::RingParams p;
    p.width = 200;
    p.height = 120;
    std::string error;
    ASSERT_TRUE(ringgen::writeRingPair(dir.path(), p, nullptr, &error)) << error;
    ASSERT_EQ(trace(dir).exitCode, 0);
    const std::string first = bytesOf(dir.file("new.tif"));
    ASSERT_EQ(trace(dir).exitCode, 0);
    EXPECT_TRUE(bytesOf(dir.file("new.tif")) == first);
    EXPECT_GT(first.size(), 200u * 120u);
}

TEST(EndToEnd, InputsThatNeverAcceptEndPromptlyWithABackgroundImage) {
    ringgen::RingParams p;
    p.width = 160;
    p.height = 100;
    p.zeroSupport = true;  // secondary mean 0.0: nothing is ever accepted
    fixtures::ScratchDir dir;
    std::string error;
    ASSERT_TRUE(ringgen::writeRingPair(dir.path(), p, nullptr, &error)) << error;
    const auto run = trace(dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    greyImage img;
    ASSERT_TRUE(readGrey(dir.file("new.tif"), img));
    EXPECT_EQ(img.rowsRead, 100u);
    EXPECT_TRUE(allBackground(img));

    // Primary red 0 along every path: NaN dispersion, never accepted either.
    fixtures::ScratchDir dark;
    std::vector<uint8_t> rgb(64 * 40 * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) rgb[i] = 0, rgb[i + 1] = 94, rgb[i + 2] = 64;
    std::vector<uint8_t> support(64 * 40 * 3, 0);
    for (size_t i = 0; i < support.size(); i += 3) support[i] = 64;
    ASSERT_TRUE(fixtures::writeRgb8(dark.file("outx.tif"), 64, 40, rgb));
    ASSERT_TRUE(fixtures::writeRgb8(dark.file("outx1.tif"), 64, 40, support));
    EXPECT_EQ(trace(dark).exitCode, 0);
    ASSERT_TRUE(readGrey(dark.file("new.tif"), img));
    EXPECT_TRUE(allBackground(img));
}

TEST(EndToEnd, FailedReadsReportOnceAndStillWriteWhenTheSizeIsKnown) {
    const std::vector<uint8_t> rgb(32 * 20 * 3, 90);
    {
        fixtures::ScratchDir dir;  // no inputs at all: nothing to size an output by
        const auto run = trace(dir);
        EXPECT_EQ(run.out, "error image not read\n");
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_FALSE(std::filesystem::exists(dir.file("new.tif")));
    }
    {
        fixtures::ScratchDir dir;  // secondary missing
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx.tif"), 32, 20, rgb));
        const auto run = trace(dir);
        EXPECT_EQ(run.out, "error image not read\n");
        EXPECT_EQ(run.exitCode, 1);
        greyImage img;
        ASSERT_TRUE(readGrey(dir.file("new.tif"), img));
        EXPECT_EQ(img.width, 32u);
        EXPECT_EQ(img.rowsRead, 20u);
    }
    {
        fixtures::ScratchDir dir;  // both present but both broken: still one message
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("whole.tif"), 32, 20, rgb));
        ASSERT_TRUE(fixtures::writeTruncatedCopy(dir.file("whole.tif"), dir.file("outx.tif"), 300));
        ASSERT_TRUE(fixtures::writeTruncatedCopy(dir.file("whole.tif"), dir.file("outx1.tif"), 300));
        const auto run = trace(dir);
        EXPECT_EQ(run.out, "error image not read\n");
        EXPECT_EQ(run.exitCode, 1);
    }
}

TEST(EndToEnd, RefusalsAndUnwritableOutputsFailLoudly) {
    {
        fixtures::ScratchDir dir;
        ASSERT_TRUE(fixtures::writeHugeClaim(dir.file("outx.tif")));
        ASSERT_TRUE(fixtures::writeHugeClaim(dir.file("outx1.tif")));
        const auto run = trace(dir);
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_NE(run.err.find("larger than"), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("new.tif")));
    }
    {
        fixtures::ScratchDir dir;
        const std::vector<uint8_t> rgb(40 * 30 * 3, 90);
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx.tif"), 40, 30, rgb));
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx1.tif"), 40, 30, rgb));
        std::filesystem::create_directory(dir.file("new.tif"));
        const auto run = trace(dir);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find("new.tif"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST(EndToEnd, TinyImagesEndWithABackgroundImage) {
    for (auto [W, H] : {std::pair{1, 1}, std::pair{4, 7}, std::pair{9, 6}}) {
        fixtures::ScratchDir dir;
        const std::vector<uint8_t> rgb(static_cast<size_t>(W * H * 3), 100);
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx.tif"), static_cast<uint32_t>(W), static_cast<uint32_t>(H), rgb));
        ASSERT_TRUE(fixtures::writeRgb8(dir.file("outx1.tif"), static_cast<uint32_t>(W), static_cast<uint32_t>(H), rgb));
        const auto run = trace(dir);
        EXPECT_EQ(run.exitCode, 0) << W << "x" << H << " " << run.err;
        greyImage img;
        ASSERT_TRUE(readGrey(dir.file("new.tif"), img));
        EXPECT_EQ(img.width, static_cast<uint32_t>(W));
        EXPECT_EQ(img.height, static_cast<uint32_t>(H));
        EXPECT_TRUE(allBackground(img)) << W << "x" << H;
    }
}

namespace {

// Replaces the calling (child) process with the tracer, working in `dir`. The command
// is made before fork (in a cross build it starts the tracer through the emulator), so
// the child only changes directory and execs.
[[noreturn]] void becomeTracer(const fixtures::Command& tracer, const std::string& dir) {
    if (chdir(dir.c_str()) == 0) tracer.exec();
    _exit(127);
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(EndToEnd, AFailedRunKeepsThePreviousResultAndLeavesNoTemporaryFile) {
    fixtures::ScratchDir dir;
    ringgen::RingParams p;
    p.width = 120;
    p.height = 80;
    std::string error;
    ASSERT_TRUE(ringgen::writeRingPair(dir.path(), p, nullptr, &error)) << error;
    ASSERT_EQ(trace(dir).exitCode, 0);
    const std::string good = bytesOf(dir.file("new.tif"));

    // A primary image that cannot be opened leaves the previous result alone.
    std::filesystem::copy_file(dir.file("outx.tif"), dir.file("keep.tif"));
    ASSERT_TRUE(fixtures::writeNonTiff(dir.file("outx.tif")));
    EXPECT_EQ(trace(dir).exitCode, 1);
    EXPECT_TRUE(bytesOf(dir.file("new.tif")) == good);
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"keep.tif", "new.tif", "outx.tif", "outx1.tif"}));
}

TEST(EndToEnd, AKilledRunKeepsThePreviousResultAndLeavesNoTemporaryFile) {
    fixtures::ScratchDir dir;
    std::ofstream(dir.file("new.tif")) << "previous result";
    // A large input whose search never accepts: it runs long enough to be interrupted.
    ringgen::RingParams p;
    p.width = 1400;
    p.height = 1400;
    p.zeroSupport = true;
    std::string error;
    ASSERT_TRUE(ringgen::writeRingPair(dir.path(), p, nullptr, &error)) << error;

    const fixtures::Command tracer(RINGTRACE_BIN, {});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) becomeTracer(tracer, dir.path());
    // Wait for the temporary output to appear, then stop the run.
    bool sawTemporary = false;
    for (int i = 0; i < 2000 && !sawTemporary; ++i) {
        for (const auto& name : filesIn(dir.path())) sawTemporary |= name.rfind("new.tif.partial-", 0) == 0;
        if (!sawTemporary) usleep(5000);
    }
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(sawTemporary);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(bytesOf(dir.file("new.tif")), "previous result");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"new.tif", "outx.tif", "outx1.tif"}));
}

TEST(EndToEnd, ProgressAppearsOnATerminalOnly) {
    fixtures::ScratchDir dir;
    ringgen::RingParams p;
    p.width = 160;
    p.height = 90;
    std::string error;
    ASSERT_TRUE(ringgen::writeRingPair(dir.path(), p, nullptr, &error)) << error;
    // Through pipes: nothing but the program's own output.
    const auto piped = trace(dir);
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(piped.err, "");

    // On a terminal: a progress line, erased again at the end.
    int master = -1;
    const fixtures::Command tracer(RINGTRACE_BIN, {});
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) becomeTracer(tracer, dir.path());
    std::string screen;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, static_cast<size_t>(n));
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(screen.find("iteration 1, 2 shortest-path runs"), std::string::npos) << screen;
    EXPECT_EQ(screen.substr(screen.size() - 4), "\r\033[K");
}

TEST(EndToEnd, AFailedWriteIsReportedAndLeavesNoPartialImage) {
    fixtures::ScratchDir dir;
    ringgen::RingParams p;
    p.width = 300;
    p.height = 200;
    std::string error;
    ASSERT_TRUE(ringgen::writeRingPair(dir.path(), p, nullptr, &error)) << error;
    std::ofstream(dir.file("new.tif")) << "previous result";
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    const fixtures::Command tracer(RINGTRACE_BIN, {});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Files may not grow past 20000 bytes: the image's rows stop fitting part way.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{20000, 20000};
        setrlimit(RLIMIT_FSIZE, &limit);
        dup2(errPipe[1], STDERR_FILENO);
        close(errPipe[0]);
        becomeTracer(tracer, dir.path());
    }
    close(errPipe[1]);
    std::string err;
    char buffer[4096];
    for (ssize_t n; (n = read(errPipe[0], buffer, sizeof buffer)) > 0;) err.append(buffer, static_cast<size_t>(n));
    close(errPipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(err.find("ringtrace: writing new.tif failed"), std::string::npos) << err;
    EXPECT_EQ(bytesOf(dir.file("new.tif")), "previous result");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"new.tif", "outx.tif", "outx1.tif"}));
}
