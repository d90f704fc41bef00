#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "program_emulator.h"

extern char** environ;

namespace fixtures {

namespace {

// Owns the two ends of a pipe; both are close-on-exec so only the dup2'd copy in the
// child survives exec.
struct Pipe {
    int fd[2] = {-1, -1};
    bool open() { return pipe2(fd, O_CLOEXEC) == 0; }
    void closeEnd(int i) {
        if (fd[i] >= 0) ::close(fd[i]);
        fd[i] = -1;
    }
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
};

// The ELF machine number of an executable file, 0 for anything else.
unsigned elfMachine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[20] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return 0;
    if (std::memcmp(header, "\x7f" "ELF", 4) != 0) return 0;
    // e_machine, in the file's own byte order (EI_DATA: 1 little, 2 big endian).
    return header[5] == 2 ? (header[18] << 8 | header[19]) : (header[19] << 8 | header[18]);
}

// Whether `file` must be started through the emulator: it is built for the processor
// this test program runs on, and that processor is emulated.
bool needsEmulator(const std::string& file) {
    if (kProgramEmulator.size() == 0) return false;
    static const unsigned own = elfMachine("/proc/self/exe");
    return own != 0 && elfMachine(file) == own;
}

// PATH lookup as execvp does it, done before fork so that the child only execs.
std::string searchPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/bin:/usr/bin";
    for (std::size_t begin = 0; begin <= dirs.size();) {
        std::size_t end = dirs.find(':', begin);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > begin ? dirs.substr(begin, end - begin) : ".";
        const std::string candidate = dir + "/" + program;
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        begin = end + 1;
    }
    return "";
}

// What a child that could not become the program tells its parent.
struct StartFailure {
    int stage;  // 0: redirecting the streams, 1: changing directory, 2: exec
    int error;
};

[[noreturn]] void failChild(int reportFd, int stage) {
    const StartFailure failure{stage, errno};
    [[maybe_unused]] const ssize_t written = ::write(reportFd, &failure, sizeof failure);
    _exit(127);
}

// Reads both pipes until both reach end of file. Polling both keeps a child that fills
// one pipe while we block on the other from deadlocking.
void drain(int outFd, int errFd, std::string* out, std::string* err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {out, err};
    int open = 2;
    char buf[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

}  // namespace

namespace {

// The file to exec for `program` and the words that start it (see programWords).
std::vector<std::string> resolve(const std::string& program, std::string* file) {
    // The child changes directory before exec, so a relative path must be resolved here.
    *file = program.find('/') == std::string::npos
                ? searchPath(program)
                : std::filesystem::absolute(program).lexically_normal().string();
    if (file->empty() || !needsEmulator(*file)) return {program};
    // emulator [its options] -0 argv0 file: the program sees the same argv[0] as
    // when started directly.
    std::vector<std::string> words(kProgramEmulator.begin(), kProgramEmulator.end());
    words.insert(words.end(), {"-0", program, *file});
    *file = words.front();
    return words;
}

}  // namespace

std::vector<std::string> programWords(const std::string& program) {
    std::string file;
    return resolve(program, &file);
}

Command::Command(const std::string& program, const std::vector<std::string>& args)
    : words_(resolve(program, &file_)) {
    words_.insert(words_.end(), args.begin(), args.end());
    for (std::string& w : words_) argv_.push_back(w.data());
    argv_.push_back(nullptr);
}

void Command::exec() const {
    if (file_.empty()) {
        errno = ENOENT;
        return;
    }
    execve(file_.c_str(), argv_.data(), environ);
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir) {
    RunResult result;
    const Command command(program, args);
    if (command.file().empty()) {
        result.spawnError = "cannot start " + program + ": " + std::strerror(ENOENT);
        return result;
    }

    // fork and exec with a close-on-exec report pipe rather than posix_spawn: an
    // emulator that runs this test may not share the memory through which
    // posix_spawn learns that exec failed.
    Pipe out, err, report;
    if (!out.open() || !err.open() || !report.open()) {
        result.spawnError = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    const char* dir = workDir.empty() ? nullptr : workDir.c_str();
    const pid_t pid = fork();
    if (pid < 0) {
        result.spawnError = std::string("fork: ") + std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        // Only async-signal-safe calls here: the caller may have other threads.
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(out.fd[1], 1) < 0 ||
            dup2(err.fd[1], 2) < 0) {
            failChild(report.fd[1], 0);
        }
        if (dir != nullptr && chdir(dir) != 0) failChild(report.fd[1], 1);
        command.exec();
        failChild(report.fd[1], 2);
    }
    out.closeEnd(1);
    err.closeEnd(1);
    report.closeEnd(1);

    StartFailure failure{};
    ssize_t got;
    while ((got = ::read(report.fd[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    int status = 0;
    if (got == static_cast<ssize_t>(sizeof failure)) {
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        const std::string stage = failure.stage == 0   ? "redirecting its streams"
                                  : failure.stage == 1 ? "changing to " + workDir
                                                       : "exec";
        result.spawnError =
            "cannot start " + program + " (" + stage + "): " + std::strerror(failure.error);
        return result;
    }
    result.started = true;
    drain(out.fd[0], err.fd[0], &result.out, &result.err);

    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
    return result;
}

}  // namespace fixtures
