// Batches of folders: the real program on folders that each end differently, and the batch
// runner itself on traces that crash, talk, or take their time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/batch.h"
#include "cli_fixtures.h"
#include "dir_snapshot.h"
#include "run_program.h"
#include "scratch_dir.h"

using namespace ringtrace::testing;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// The lines of `text` that start with "prefix: ", without it.
std::vector<std::string> linesOfFolder(const std::string& text, const std::string& folder) {
    std::vector<std::string> mine;
    for (const auto& line : linesOf(text)) {
        if (line.rfind(folder + ": ", 0) == 0) mine.push_back(line.substr(folder.size() + 2));
    }
    return mine;
}

const char* meaningOf(int status) {
    switch (status) {
        case 0: return "traced";
        case 1: return "error image not read";
        case 2: return "output not written";
        default: return "refused";
    }
}

}  // namespace

TEST(Batch, EachFolderEndsExactlyAsItsOwnPlainRunAndTheWorstStatusWins) {
    fixtures::ScratchDir plainRoot, batchRoot;
    std::vector<std::string> args = {"-j", "2"}, expectedLines;
    int worst = 0;
    std::map<std::string, fixtures::RunResult> plainRuns;
    for (const auto& c : folderCases()) {
        fs::create_directory(plainRoot.file(c.name));
        fs::create_directory(batchRoot.file(c.name));
        c.make(plainRoot.file(c.name));
        c.make(batchRoot.file(c.name));
        plainRuns[c.name] = fixtures::runProgram(RINGTRACE_BIN, {}, plainRoot.file(c.name));
        ASSERT_EQ(plainRuns[c.name].exitCode, c.status) << c.name << plainRuns[c.name].err;
        args.push_back(c.name);
        expectedLines.push_back(std::string(c.name) + ": " + meaningOf(c.status));
        worst = std::max(worst, c.status);
    }
    const auto batch = fixtures::runProgram(RINGTRACE_BIN, args, batchRoot.path());
    EXPECT_EQ(batch.exitCode, worst);
    EXPECT_EQ(sorted(linesOf(batch.out)), sorted(expectedLines)) << batch.out;
    for (const auto& c : folderCases()) {
        // The same files, byte for byte, and the same messages, each prefixed by its folder.
        EXPECT_EQ(fixtures::snapshotDir(batchRoot.file(c.name)), fixtures::snapshotDir(plainRoot.file(c.name)))
            << c.name;
        const auto& plain = plainRuns[c.name];
        std::vector<std::string> plainMessages = linesOf(plain.out + plain.err);
        EXPECT_EQ(sorted(linesOfFolder(batch.err, c.name)), sorted(plainMessages)) << c.name << "\n" << batch.err;
    }
    // Every message line belongs to a folder.
    size_t prefixed = 0;
    for (const auto& c : folderCases()) prefixed += linesOfFolder(batch.err, c.name).size();
    EXPECT_EQ(prefixed, linesOf(batch.err).size()) << batch.err;
    EXPECT_EQ(fixtures::snapshotDir(batchRoot.path()).size(), folderCases().size());
}

TEST(Batch, OneOrTwoAtATimeAndAnyMemoryLimitGiveTheSameFiles) {
    const std::vector<std::tuple<const char*, int, int, int>> rings = {
        {"a", 200, 120, 6}, {"b", 90, 60, 1}, {"c", 360, 200, 2}, {"-d", 150, 90, 4}};
    std::vector<std::map<std::string, fixtures::DirSnapshot>> results;
    for (const std::vector<std::string>& options : {std::vector<std::string>{"-j", "1"},
                                                   std::vector<std::string>{"--jobs=2"},
                                                   std::vector<std::string>{"-j2", "--memory", "1K"}}) {
        fixtures::ScratchDir root;
        std::vector<std::string> args = options;
        for (const char* extra : {"--summary", "summary.json", "--csv", "contour.csv", "--"}) args.push_back(extra);
        for (const auto& [name, W, H, seed] : rings) {
            makeRing(root.file(name), W, H, static_cast<uint64_t>(seed));
            args.push_back(std::string(name) + "/");  // as a shell completes it
        }
        const auto run = fixtures::runProgram(RINGTRACE_BIN, args, root.path());
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(sorted(linesOf(run.out)),
                  (std::vector<std::string>{"-d/: traced", "a/: traced", "b/: traced", "c/: traced"}));
        std::map<std::string, fixtures::DirSnapshot> files;
        for (const auto& ring : rings) files[std::get<0>(ring)] = fixtures::snapshotDir(root.file(std::get<0>(ring)));
        EXPECT_EQ(files["a"].size(), 5u);
        results.push_back(files);
    }
    EXPECT_TRUE(results[1] == results[0]);
    EXPECT_TRUE(results[2] == results[0]);
}

TEST(Batch, AnInterruptedBatchStopsItsFoldersAndLeavesNoTemporaryFile) {
    fixtures::ScratchDir root;
    makeRing(root.file("slow"), 1400, 1400, 1, true);  // never accepts: runs long enough to interrupt
    makeRing(root.file("later"), 90, 60, 1);
    const auto laterBefore = fixtures::snapshotDir(root.file("later"));
    const fixtures::Command tracer(RINGTRACE_BIN, {"-j", "1", "slow", "later"});
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t batch = fork();
    ASSERT_GE(batch, 0);
    if (batch == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        if (chdir(root.path().c_str()) == 0) tracer.exec();
        _exit(127);
    }
    close(out[1]);
    bool sawTemporary = false;
    for (int i = 0; i < 4000 && !sawTemporary; ++i) {
        for (const auto& entry : fs::directory_iterator(root.file("slow"))) {
            sawTemporary |= entry.path().filename().string().rfind("new.tif.partial-", 0) == 0;
        }
        if (!sawTemporary) usleep(5000);
    }
    kill(batch, SIGTERM);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(batch, &status, 0), batch);
    EXPECT_TRUE(sawTemporary);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(text, "slow: ended abnormally (killed by signal 15, Terminated)\n");
    EXPECT_EQ(fixtures::snapshotDir(root.file("slow")).size(), 2u);  // only the inputs
    EXPECT_EQ(fixtures::snapshotDir(root.file("later")), laterBefore);
}

// The runner on its own, with traces that do what a real one rarely does.
namespace {

struct capturedBatch {
    int status = 0;
    std::string results;
    std::string messages;
};

std::string readFile(int fd) {
    std::string text;
    lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

capturedBatch runCaptured(ringtrace::cli::batchSettings settings, const std::function<int()>& trace) {
    char results[] = "/tmp/batch-results-XXXXXX", messages[] = "/tmp/batch-messages-XXXXXX";
    settings.resultFd = mkstemp(results);
    settings.messageFd = mkstemp(messages);
    unlink(results);
    unlink(messages);
    capturedBatch c;
    c.status = ringtrace::cli::runBatch(settings, trace);
    c.results = readFile(settings.resultFd);
    c.messages = readFile(settings.messageFd);
    return c;
}

std::string folderName() { return fs::current_path().filename().string(); }

std::vector<std::string> makeFolders(const fixtures::ScratchDir& root, const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const auto& name : names) {
        fs::create_directory(root.file(name));
        paths.push_back(root.file(name));
    }
    return paths;
}

// Each trace notes how many traces were running while it ran (markers in `shared`).
int countingTrace(const std::string& shared) {
    const std::string mine = shared + "/running-" + std::to_string(getpid());
    std::ofstream(mine).put('x');
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const auto running = std::distance(fs::directory_iterator(shared), fs::directory_iterator{});
    std::ofstream("seen") << running;
    fs::remove(mine);
    return 0;
}

int seenBy(const std::string& folder) {
    int n = -1;
    std::ifstream(folder + "/seen") >> n;
    return n;
}

}  // namespace

TEST(BatchRunner, ACrashedOrFailedFolderDisturbsNoOther) {
    fixtures::ScratchDir root;
    ringtrace::cli::batchSettings settings;
    settings.folders = makeFolders(root, {"first", "crash", "unwritable", "last"});
    settings.jobs = 2;
    settings.memoryLimit = 1 << 30;
    const auto c = runCaptured(settings, [] {
        const std::string name = folderName();
        if (name == "crash") kill(getpid(), SIGKILL);
        std::ofstream("done") << name;
        return name == "unwritable" ? 2 : 0;
    });
    EXPECT_EQ(c.status, ringtrace::cli::EXIT_ABNORMAL);
    EXPECT_EQ(sorted(linesOf(c.results)),
              sorted({root.file("first") + ": traced",
                      root.file("crash") + ": ended abnormally (killed by signal 9, Killed)",
                      root.file("unwritable") + ": output not written", root.file("last") + ": traced"}));
    for (const char* name : {"first", "unwritable", "last"}) EXPECT_EQ(bytesOf(root.file(name) + "/done"), name);
    EXPECT_FALSE(fs::exists(root.file("crash") + "/done"));
}

TEST(BatchRunner, EveryLineOfAFoldersOutputArrivesWholeAndPrefixed) {
    fixtures::ScratchDir root;
    ringtrace::cli::batchSettings settings;
    settings.folders = makeFolders(root, {"x", "y"});
    settings.jobs = 2;
    settings.memoryLimit = 1 << 30;
    const auto c = runCaptured(settings, [] {
        const std::string name = folderName();
        std::printf("out of %s\n", name.c_str());
        std::fflush(stdout);
        for (int i = 0; i < 200; ++i) std::fprintf(stderr, "%s line %d of 200\n", name.c_str(), i);
        std::fprintf(stderr, "progress\r\033[Kunfinished");
        return 1;
    });
    EXPECT_EQ(c.status, 1);
    for (const char* name : {"x", "y"}) {
        const auto mine = linesOfFolder(c.messages, root.file(name));
        ASSERT_EQ(mine.size(), 203u) << c.messages;
        EXPECT_EQ(mine[0], std::string("out of ") + name);
        for (int i = 0; i < 200; ++i) EXPECT_EQ(mine[static_cast<size_t>(i) + 1], name + (" line " + std::to_string(i) + " of 200"));
        EXPECT_EQ(mine[201], "progress");
        EXPECT_EQ(mine[202], "\033[Kunfinished");
    }
    EXPECT_EQ(linesOf(c.messages).size(), 406u);
}

TEST(BatchRunner, RunsFoldersSideBySide) {
    fixtures::ScratchDir root;
    ringtrace::cli::batchSettings settings;
    settings.folders = makeFolders(root, {"left", "right"});
    settings.jobs = 2;
    settings.memoryLimit = 1 << 30;
    const std::string shared = root.path();
    // Each waits for the other to have started: only traces that run together both finish.
    const auto c = runCaptured(settings, [&shared] {
        const std::string name = folderName(), other = name == "left" ? "right" : "left";
        std::ofstream(shared + "/" + name + "/started").put('x');
        for (int i = 0; i < 2000; ++i) {
            if (fs::exists(shared + "/" + other + "/started")) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 3;
    });
    EXPECT_EQ(c.status, 0) << c.results;
}

TEST(BatchRunner, TheMemoryLimitAndTheJobCountBoundWhatRunsAtOnce) {
    fixtures::ScratchDir root, markers;
    const std::string shared = markers.path();
    ringtrace::cli::batchSettings settings;
    settings.folders = makeFolders(root, {"a", "b", "huge", "c", "d", "e"});
    settings.jobs = 6;
    settings.memoryLimit = 100;
    // Two 40-byte folders fit in 100 bytes, three do not; "huge" fits nowhere and runs alone.
    settings.peakOf = [](const std::string& folder) -> uint64_t {
        return fs::path(folder).filename() == "huge" ? 500 : 40;
    };
    const auto c = runCaptured(settings, [&shared] { return countingTrace(shared); });
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(linesOf(c.results).size(), 6u);
    EXPECT_EQ(seenBy(root.file("huge")), 1);
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        EXPECT_GE(seenBy(root.file(name)), 1) << name;
        EXPECT_LE(seenBy(root.file(name)), 2) << name;
    }

    settings.folders = makeFolders(root, {"f", "g", "h", "i", "j"});
    settings.jobs = 2;
    settings.memoryLimit = 1 << 30;
    settings.peakOf = [](const std::string&) -> uint64_t { return 1; };
    EXPECT_EQ(runCaptured(settings, [&shared] { return countingTrace(shared); }).status, 0);
    for (const char* name : {"f", "g", "h", "i", "j"}) EXPECT_LE(seenBy(root.file(name)), 2) << name;
}
