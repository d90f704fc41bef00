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

// The process's temporary files, for the signal handler: fixed buffers, since a handler may
// touch nothing else. A run has at most "new.tif", the summary and the contour file open.
constexpr int kSlots = 4;
char gTemporary[kSlots][4096];
volatile std::sig_atomic_t gInUse[kSlots] = {};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

extern "C" void removeTemporariesAndDie(int sig) {
    for (int i = 0; i < kSlots; ++i) {
        if (gInUse[i] != 0) unlink(gTemporary[i]);
    }
    std::signal(sig, SIG_DFL);
    raise(sig);
}

bool anyInUse() {
    for (int i = 0; i < kSlots; ++i) {
        if (gInUse[i] != 0) return true;
    }
    return false;
}

// Returns the slot that now guards `path`, or -1 when none is free (the file is then
// simply not removed by a signal).
int guard(const std::string& path) {
    if (path.size() >= sizeof gTemporary[0]) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (gInUse[i] != 0) continue;
        std::memcpy(gTemporary[i], path.c_str(), path.size() + 1);
        gInUse[i] = 1;
        for (int sig : kSignals) std::signal(sig, removeTemporariesAndDie);
        return i;
    }
    return -1;
}

void unguard(int slot) {
    if (slot < 0) return;
    gInUse[slot] = 0;
    if (!anyInUse()) {
        for (int sig : kSignals) std::signal(sig, SIG_DFL);
    }
}

std::string describe(const std::string& what, int err) { return what + ": " + std::strerror(err); }

}  // namespace

pendingOutput::~pendingOutput() { abandon(); }

int pendingOutput::create(const std::string& finalPath, std::string& error) {
    abandon();
    final_ = finalPath;
    std::string pattern = finalPath + ".partial-XXXXXX";
    // Hold the termination signals until the handler knows the file's name, so that no
    // signal can land between the file's creation and its guard.
    sigset_t held, previous;
    sigemptyset(&held);
    for (int sig : kSignals) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, &previous);
    const int fd = mkstemp(pattern.data());
    const int createError = errno;
    if (fd >= 0) {
        temporary_ = pattern;
        if (guardSignals_) slot_ = guard(temporary_);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd < 0) {
        error = describe("cannot create " + finalPath, createError);
        return -1;
    }
    // mkstemp makes the file private; the result gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, static_cast<mode_t>(0666 & ~mask));
    return fd;
}

TIFF* pendingOutput::open(const std::string& finalPath, std::string& error) {
    const int fd = create(finalPath, error);
    if (fd < 0) return nullptr;
    fd_ = fd;
    image_ = std::make_unique<memoryTiff>();
    TIFF* out = image_->open(temporary_.c_str());
    if (out == nullptr) {
        error = "cannot create " + finalPath;
        abandon();
    }
    return out;
}

bool writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool pendingOutput::write(const std::string& finalPath, const std::string& content, std::string& error) {
    const int fd = create(finalPath, error);
    if (fd < 0) return false;
    if (!writeAll(fd, content.data(), content.size())) {
        error = describe("writing " + finalPath + " failed", errno);
        close(fd);
        abandon();
        return false;
    }
    if (close(fd) != 0) {
        error = describe("writing " + finalPath + " failed", errno);
        abandon();
        return false;
    }
    return true;
}

bool pendingOutput::commit(std::string& error) {
    if (temporary_.empty()) return false;
    if (fd_ >= 0) {
        const bool saved = image_->saveTo(fd_);
        const int saveError = errno;
        const bool closed = close(fd_) == 0;
        const int closeError = errno;
        fd_ = -1;
        image_.reset();
        if (!saved || !closed) {
            error = describe("writing " + final_ + " failed", saved ? closeError : saveError);
            abandon();
            return false;
        }
    }
    if (std::rename(temporary_.c_str(), final_.c_str()) != 0) {
        error = describe("cannot replace " + final_, errno);
        abandon();
        return false;
    }
    temporary_.clear();
    unguard(slot_);
    slot_ = -1;
    return true;
}

void pendingOutput::abandon() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    image_.reset();
    if (temporary_.empty()) return;
    unlink(temporary_.c_str());
    temporary_.clear();
    unguard(slot_);
    slot_ = -1;
}

}  // namespace ringtrace
