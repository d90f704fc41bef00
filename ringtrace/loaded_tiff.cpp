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

using fileBytes = ringgraph::overwrite_vector<uint8_t>;

// A file's bytes (a stretch of `storage`, which two files may share) and a read position;
// owned by the handle that reads them.
struct loadedFile {
    std::shared_ptr<fileBytes> storage;
    size_t offset = 0;  // where the file starts in `storage`
    size_t length = 0;
    size_t position = 0;

    const uint8_t* data() const { return storage->data() + offset; }
    size_t size() const { return length; }
};

tmsize_t readBytes(thandle_t h, void* data, tmsize_t n) {
    auto* f = static_cast<loadedFile*>(h);
    if (n <= 0 || f->position >= f->size()) return 0;
    const size_t count = std::min(static_cast<size_t>(n), f->size() - f->position);
    std::memcpy(data, f->data() + f->position, count);
    f->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t refuseWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekTo(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<loadedFile*>(h);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = f->position;
    if (whence == SEEK_END) base = f->size();
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

toff_t sizeOf(thandle_t h) { return static_cast<loadedFile*>(h)->size(); }

int mapFile(thandle_t h, void** base, toff_t* size) {
    auto* f = static_cast<loadedFile*>(h);
    *base = const_cast<uint8_t*>(f->data());
    *size = f->size();
    return 1;
}

void unmapFile(thandle_t, void*, toff_t) {}

// Larger files (far beyond any picture the tracer takes: 2^25 pixels of four bytes are
// 128 MiB) are left to libtiff's own mapping, which touches only what it decodes, rather
// than read whole before their header has even been looked at.
constexpr off_t kLoadedLimit = off_t{256} << 20;

// An open file and its size: fd -1 when it cannot be opened, is not a regular file or is
// empty or too large to load.
struct sizedFile {
    int fd = -1;
    size_t size = 0;
};

sizedFile openSized(const char* path) {
    sizedFile f;
    f.fd = open(path, O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) return f;
    struct stat st {};
    if (fstat(f.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= kLoadedLimit) {
        f.size = static_cast<size_t>(st.st_size);
    } else {
        close(f.fd);
        f.fd = -1;
    }
    return f;
}

// Reads up to `size` bytes of `fd` into `to` and closes it. The count read (a file cut
// short meanwhile is read as it now is), or -1 on a failed read.
int64_t readAll(int fd, uint8_t* to, size_t size) {
    size_t got = 0;
    bool ok = true;
    while (got < size) {
        const ssize_t n = read(fd, to + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    return ok ? static_cast<int64_t>(got) : -1;
}

// A read handle on `file` (loaded, or null when it could not be), as openLoaded gives one.
TIFF* openHandle(const char* path, std::unique_ptr<loadedFile> file) {
    if (file == nullptr) return TIFFOpen(path, "r");
    // From here on TIFFClose releases the bytes (closeFile); a handle that fails to open is
    // never closed, so they are released here then.
    TIFF* tif = TIFFClientOpen(path, "r", file.get(), readBytes, refuseWrite, seekTo, closeFile, sizeOf, mapFile,
                               unmapFile);
    if (tif != nullptr) file.release();
    return tif;
}

// The whole file, or null (nothing read) when it cannot be opened or read, or is too large.
std::unique_ptr<loadedFile> load(const char* path) {
    const sizedFile f = openSized(path);
    if (f.fd < 0) return nullptr;
    auto file = std::make_unique<loadedFile>();
    try {
        file->storage = std::make_shared<fileBytes>(f.size);
    } catch (const std::bad_alloc&) {
        close(f.fd);
        return nullptr;
    }
    const int64_t got = readAll(f.fd, file->storage->data(), f.size);
    if (got < 0) return nullptr;
    file->length = static_cast<size_t>(got);
    return file;
}

// Both files in one block, where that takes fewer huge pages than a block each and the
// block is still populated as a whole (see the large allocator); false (nothing read, both
// closed) otherwise or when a read fails.
bool loadShared(const sizedFile& a, const sizedFile& b, std::unique_ptr<loadedFile>& fileA,
                std::unique_ptr<loadedFile>& fileB) {
    const size_t offsetB = (a.size + 63) & ~size_t{63};  // each file on its own cache lines
    const size_t total = offsetB + b.size;
    if (ringgraph::mapped_size(total) >= ringgraph::mapped_size(a.size) + ringgraph::mapped_size(b.size) ||
        !ringgraph::populated_block(total)) {
        return false;
    }
    std::shared_ptr<fileBytes> storage;
    try {
        storage = std::make_shared<fileBytes>(total);
        fileA = std::make_unique<loadedFile>();
        fileB = std::make_unique<loadedFile>();
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int64_t gotA = readAll(a.fd, storage->data(), a.size);
    const int64_t gotB = readAll(b.fd, storage->data() + offsetB, b.size);
    if (gotA < 0 || gotB < 0) {
        fileA.reset();
        fileB.reset();
        return true;  // both closed: each is opened on its own instead
    }
    *fileA = loadedFile{storage, 0, static_cast<size_t>(gotA), 0};
    *fileB = loadedFile{storage, offsetB, static_cast<size_t>(gotB), 0};
    return true;
}

}  // namespace

TIFF* openLoaded(const char* path) { return openHandle(path, load(path)); }

void openLoadedPair(const char* pathA, const char* pathB, TIFF*& tifA, TIFF*& tifB) {
    std::unique_ptr<loadedFile> fileA, fileB;
    const sizedFile a = openSized(pathA);
    const sizedFile b = a.fd >= 0 ? openSized(pathB) : sizedFile{};
    bool shared = false;
    if (a.fd >= 0 && b.fd >= 0) shared = loadShared(a, b, fileA, fileB);
    if (!shared) {
        if (a.fd >= 0) close(a.fd);
        if (b.fd >= 0) close(b.fd);
        fileA = load(pathA);
        fileB = load(pathB);
    } else if (fileA == nullptr) {
        fileA = load(pathA);
        fileB = load(pathB);
    }
    // Opened in this order whichever way they were read, so that libtiff's messages on the
    // two come in the same order.
    tifA = openHandle(pathA, std::move(fileA));
    tifB = openHandle(pathB, std::move(fileB));
}

}  // namespace ringtrace
