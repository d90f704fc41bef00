#include "loaded_tiff.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "graph/large_allocator.h"

namespace ringtrace {

namespace {

// The file's bytes and a read position; owned by the handle that reads them.
struct loadedFile {
    ringgraph::overwrite_vector<uint8_t> bytes;  // read whole, then cut to what was read
    size_t position = 0;
};

tmsize_t readBytes(thandle_t h, void* data, tmsize_t n) {
    auto* f = static_cast<loadedFile*>(h);
    if (n <= 0 || f->position >= f->bytes.size()) return 0;
    const size_t count = std::min(static_cast<size_t>(n), f->bytes.size() - f->position);
    std::memcpy(data, f->bytes.data() + f->position, count);
    f->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t refuseWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekTo(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<loadedFile*>(h);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = f->position;
    if (whence == SEEK_END) base = f->bytes.size();
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return static_cast<toff_t>(-1);
    const uint64_t target = base + offset;
    // As in a file, a position past the end is fine; reading there gives nothing.
    f->position = static_cast<size_t>(std::min<uint64_t>(target, SIZE_MAX));
    return target;
}

int closeFile(thandle_t h) {
    delete static_cast<loadedFile*>(h);
    return 0;
}

toff_t sizeOf(thandle_t h) { return static_cast<loadedFile*>(h)->bytes.size(); }

int mapFile(thandle_t h, void** base, toff_t* size) {
    auto* f = static_cast<loadedFile*>(h);
    *base = f->bytes.data();
    *size = f->bytes.size();
    return 1;
}

void unmapFile(thandle_t, void*, toff_t) {}

// Larger files (far beyond any picture the tracer takes: 2^25 pixels of four bytes are
// 128 MiB) are left to libtiff's own mapping, which touches only what it decodes, rather
// than read whole before their header has even been looked at.
constexpr off_t kLoadedLimit = off_t{256} << 20;

// The whole file, or false (nothing read) when it cannot be opened or read, or is too large.
bool load(const char* path, loadedFile& file) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= kLoadedLimit;
    if (ok) {
        try {
            file.bytes.resize(static_cast<size_t>(st.st_size));
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    size_t got = 0;
    while (ok && got < file.bytes.size()) {
        const ssize_t n = read(fd, file.bytes.data() + got, file.bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (ok) file.bytes.resize(got);  // a file cut short meanwhile is read as it now is
    return ok;
}

}  // namespace

TIFF* openLoaded(const char* path) {
    auto file = std::make_unique<loadedFile>();
    if (!load(path, *file)) return TIFFOpen(path, "r");
    // From here on TIFFClose releases the bytes (closeFile); a handle that fails to open is
    // never closed, so they are released here then.
    TIFF* tif = TIFFClientOpen(path, "r", file.get(), readBytes, refuseWrite, seekTo, closeFile, sizeOf, mapFile,
                               unmapFile);
    if (tif != nullptr) file.release();
    return tif;
}

}  // namespace ringtrace
