#include "cli/batch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/prefixed_lines.h"
#include "driver.h"

namespace ringtrace::cli {

namespace {

constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// For the signal handler: the running children and the signal that stops the batch.
constexpr int kMaxChildren = 1024;
volatile std::sig_atomic_t gChildren[kMaxChildren];
volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void forwardToChildren(int sig) {
    gStopSignal = sig;
    for (int i = 0; i < kMaxChildren; ++i) {
        const pid_t pid = gChildren[i];
        if (pid > 0) kill(pid, sig);
    }
}

void writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a closed or full output: the folders' work goes on regardless
        p += n;
        left -= static_cast<size_t>(n);
    }
}

struct runningFolder {
    size_t index = 0;
    pid_t pid = -1;
    int fd = -1;
    int slot = -1;
    uint64_t memory = 0;
    std::unique_ptr<prefixedLines> lines;
};

class signalScope {
public:
    signalScope() {
        struct sigaction forward {};
        forward.sa_handler = forwardToChildren;
        sigemptyset(&forward.sa_mask);
        for (size_t i = 0; i < std::size(kForwarded); ++i) sigaction(kForwarded[i], &forward, &saved_[i]);
        // A reader that went away must not end the batch (nor its children) half way.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &savedPipe_);
    }
    ~signalScope() {
        for (size_t i = 0; i < std::size(kForwarded); ++i) sigaction(kForwarded[i], &saved_[i], nullptr);
        sigaction(SIGPIPE, &savedPipe_, nullptr);
    }
    signalScope(const signalScope&) = delete;
    signalScope& operator=(const signalScope&) = delete;

private:
    struct sigaction saved_[std::size(kForwarded)] {};
    struct sigaction savedPipe_ {};
};

sigset_t forwardedSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kForwarded) sigaddset(&set, sig);
    return set;
}

// The child's side: never returns.
[[noreturn]] void becomeFolderTrace(const std::string& folder, int writeFd, const std::vector<int>& otherFds,
                                    const sigset_t& mask, const std::function<int()>& traceHere) {
    for (int sig : kForwarded) std::signal(sig, SIG_DFL);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    dup2(writeFd, STDOUT_FILENO);
    dup2(writeFd, STDERR_FILENO);
    if (writeFd != STDOUT_FILENO && writeFd != STDERR_FILENO) close(writeFd);
    for (int fd : otherFds) close(fd);
    if (chdir(folder.c_str()) != 0) {
        std::fprintf(stderr, "ringtrace: cannot enter the folder: %s\n", std::strerror(errno));
        std::fflush(stderr);
        _exit(EXIT_NOT_READ);
    }
    const int status = traceHere();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

}  // namespace

std::string folderResult(int waitStatus, int& exitStatus) {
    if (WIFEXITED(waitStatus)) {
        exitStatus = WEXITSTATUS(waitStatus);
        if (exitStatus <= EXIT_REFUSED) return statusMeaning(exitStatus);
        return "failed with status " + std::to_string(exitStatus);
    }
    exitStatus = EXIT_ABNORMAL;
    if (WIFSIGNALED(waitStatus)) {
        const int sig = WTERMSIG(waitStatus);
        return "ended abnormally (killed by signal " + std::to_string(sig) + ", " + strsignal(sig) + ")";
    }
    return "ended abnormally";
}

int runBatch(const batchSettings& settings, const std::function<int()>& traceHere) {
    const size_t jobs = static_cast<size_t>(std::clamp(settings.jobs, 1, kMaxChildren));
    const auto& folders = settings.folders;
    for (auto& pid : gChildren) pid = 0;
    gStopSignal = 0;
    signalScope signals;
    const sigset_t forwarded = forwardedSet();

    std::vector<runningFolder> running;
    uint64_t inUse = 0;
    int worst = 0;
    size_t next = 0;
    bool waitForASlot = false;  // the last fork failed: retry once a running folder ends

    auto report = [&](size_t index, const std::string& result, int status) {
        writeAll(settings.resultFd, folders[index] + ": " + result + "\n");
        worst = std::max(worst, status);
    };

    auto start = [&](size_t index, uint64_t memory) -> bool {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        std::vector<int> otherFds;
        for (const auto& r : running) otherFds.push_back(r.fd);
        otherFds.push_back(fds[0]);
        int slot = 0;
        while (gChildren[slot] != 0) ++slot;  // a free one exists: at most `jobs` run
        std::fflush(stdout);
        std::fflush(stderr);
        sigset_t previous;
        sigprocmask(SIG_BLOCK, &forwarded, &previous);
        const pid_t pid = fork();
        if (pid == 0) becomeFolderTrace(folders[index], fds[1], otherFds, previous, traceHere);
        if (pid > 0) gChildren[slot] = pid;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        close(fds[1]);
        if (pid < 0) {
            close(fds[0]);
            return false;
        }
        runningFolder r;
        r.index = index;
        r.pid = pid;
        r.fd = fds[0];
        r.slot = slot;
        r.memory = memory;
        r.lines = std::make_unique<prefixedLines>(folders[index] + ": ");
        running.push_back(std::move(r));
        inUse += memory;
        return true;
    };

    auto finish = [&](size_t which) {
        runningFolder& r = running[which];
        std::string text;
        r.lines->finish(text);
        writeAll(settings.messageFd, text);
        close(r.fd);
        int waitStatus = 0;
        while (waitpid(r.pid, &waitStatus, 0) < 0 && errno == EINTR) {
        }
        gChildren[r.slot] = 0;
        int status = 0;
        const std::string result = folderResult(waitStatus, status);
        report(r.index, result, status);
        inUse -= r.memory;
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(which));
        waitForASlot = false;
    };

    for (;;) {
        while (gStopSignal == 0 && !waitForASlot && next < folders.size() && running.size() < jobs) {
            const uint64_t memory = settings.peakOf(folders[next]);
            if (!admits(inUse, memory, settings.memoryLimit, running.size())) break;
            if (start(next, memory)) {
                ++next;
                continue;
            }
            const int err = errno;
            if (!running.empty()) {
                waitForASlot = true;
                break;
            }
            writeAll(settings.messageFd, folders[next] + ": ringtrace: cannot start a process: " + std::strerror(err) + "\n");
            report(next, "ended abnormally (could not be started)", EXIT_ABNORMAL);
            ++next;
        }
        if (running.empty()) break;

        std::vector<pollfd> polled;
        for (const auto& r : running) polled.push_back(pollfd{r.fd, POLLIN, 0});
        if (poll(polled.data(), polled.size(), -1) < 0) continue;  // a signal: look again
        // Back to front, so that finishing one does not move the ones still to look at.
        for (size_t i = polled.size(); i-- > 0;) {
            if (polled[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = read(running[i].fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                finish(i);
                continue;
            }
            std::string text;
            running[i].lines->feed(buffer, static_cast<size_t>(n), text);
            writeAll(settings.messageFd, text);
        }
    }

    if (gStopSignal != 0) {
        const int sig = gStopSignal;
        struct sigaction dflt {};
        dflt.sa_handler = SIG_DFL;
        sigemptyset(&dflt.sa_mask);
        sigaction(sig, &dflt, nullptr);
        raise(sig);
    }
    return worst;
}

}  // namespace ringtrace::cli
