#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace ringtrace {

namespace {

// The one temporary file of the process, for the signal handler: a fixed buffer, since a
// handler may touch nothing else.
char gTemporary[4096];
volatile std::sig_atomic_t gHaveTemporary = 0;
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

extern "C" void removeTemporaryAndDie(int sig) {
    if (gHaveTemporary != 0) unlink(gTemporary);
    std::signal(sig, SIG_DFL);
    raise(sig);
}

void guard(const std::string& path) {
    if (path.size() >= sizeof gTemporary) return;
    std::memcpy(gTemporary, path.c_str(), path.size() + 1);
    gHaveTemporary = 1;
    for (int sig : kSignals) std::signal(sig, removeTemporaryAndDie);
}

void unguard() {
    gHaveTemporary = 0;
    for (int sig : kSignals) std::signal(sig, SIG_DFL);
}

std::string describe(const std::string& what, int err) { return what + ": " + std::strerror(err); }

}  // namespace

pendingOutput::~pendingOutput() { abandon(); }

TIFF* pendingOutput::open(const std::string& finalPath, std::string& error) {
    final_ = finalPath;
    std::string pattern = finalPath + ".partial-XXXXXX";
    // Hold the termination signals until the handler knows the file's name, so that no
    // signal can land between the file's creation and its guard.
    sigset_t held, previous;
    sigemptyset(&held);
    for (int sig : kSignals) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, &previous);
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) {
        temporary_ = pattern;
        guard(temporary_);
    }
    const int createError = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd < 0) {
        error = describe("cannot create " + finalPath, createError);
        return nullptr;
    }
    // mkstemp makes the file private; the result gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, static_cast<mode_t>(0666 & ~mask));
    close(fd);
    TIFF* out = TIFFOpen(temporary_.c_str(), "w");
    if (out == nullptr) {
        error = "cannot create " + finalPath;
        abandon();
    }
    return out;
}

bool pendingOutput::commit(std::string& error) {
    if (temporary_.empty()) return false;
    if (std::rename(temporary_.c_str(), final_.c_str()) != 0) {
        error = describe("cannot replace " + final_, errno);
        abandon();
        return false;
    }
    temporary_.clear();
    unguard();
    return true;
}

void pendingOutput::abandon() {
    if (temporary_.empty()) return;
    unlink(temporary_.c_str());
    temporary_.clear();
    unguard();
}

}  // namespace ringtrace
