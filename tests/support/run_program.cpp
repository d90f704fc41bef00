#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

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

class SpawnActions {
  public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

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

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir) {
    RunResult result;
    const bool searchPath = program.find('/') == std::string::npos;
    // The child changes directory before exec, so a relative path must be resolved here.
    const std::string exe =
        searchPath ? program : std::filesystem::absolute(program).lexically_normal().string();

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    Pipe out, err;
    if (!out.open() || !err.open()) {
        result.spawnError = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), out.fd[1], 1);
    posix_spawn_file_actions_adddup2(actions.get(), err.fd[1], 2);
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(actions.get(), workDir.c_str());

    pid_t pid = 0;
    const int rc =
        searchPath ? posix_spawnp(&pid, exe.c_str(), actions.get(), nullptr, argv.data(), environ)
                   : posix_spawn(&pid, exe.c_str(), actions.get(), nullptr, argv.data(), environ);
    if (rc != 0) {
        result.spawnError = "cannot start " + program + ": " + std::strerror(rc);
        return result;
    }
    result.started = true;
    out.closeEnd(1);
    err.closeEnd(1);
    drain(out.fd[0], err.fd[0], &result.out, &result.err);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
    return result;
}

}  // namespace fixtures
