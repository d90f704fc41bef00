#include "memory_tiff.h"

#include "output_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace ringtrace {

TIFF* memoryTiff::open(const char* name) {
    bytes_.clear();
    position_ = 0;
    return TIFFClientOpen(name, "w", this, read, write, seek, close, size, nullptr, nullptr);
}

void memoryTiff::reserve(size_t bytes) {
    try {
        bytes_.reserve(bytes);
    } catch (const std::bad_alloc&) {
        // The writes grow it as they go.
    } catch (const std::length_error&) {
    }
}

bool memoryTiff::saveTo(int fd) const {
    if (lseek(fd, 0, SEEK_SET) != 0) return false;
    if (!writeAll(fd, bytes_.data(), bytes_.size())) return false;
    return ftruncate(fd, static_cast<off_t>(bytes_.size())) == 0;
}

tmsize_t memoryTiff::read(thandle_t h, void* data, tmsize_t n) {
    auto* self = static_cast<memoryTiff*>(h);
    if (n <= 0 || self->position_ >= self->bytes_.size()) return 0;
    const size_t count = std::min(static_cast<size_t>(n), self->bytes_.size() - self->position_);
    std::memcpy(data, self->bytes_.data() + self->position_, count);
    self->position_ += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t memoryTiff::write(thandle_t h, void* data, tmsize_t n) {
    auto* self = static_cast<memoryTiff*>(h);
    if (n < 0) return -1;
    const auto count = static_cast<size_t>(n);
    if (count > std::numeric_limits<size_t>::max() - self->position_) return -1;
    const size_t end = self->position_ + count;
    try {
        if (end > self->bytes_.size()) {
            // Grown by doubling, so that an image written row by row is copied only a few
            // times on its way.
            if (end > self->bytes_.capacity()) self->bytes_.reserve(std::max(end, 2 * self->bytes_.capacity()));
            const size_t old = self->bytes_.size();
            self->bytes_.resize(end);  // default-initialised: written below, or the gap
            if (self->position_ > old) std::memset(self->bytes_.data() + old, 0, self->position_ - old);
        }
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (count > 0) std::memcpy(self->bytes_.data() + self->position_, data, count);
    self->position_ = end;
    return n;
}

toff_t memoryTiff::seek(thandle_t h, toff_t offset, int whence) {
    auto* self = static_cast<memoryTiff*>(h);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = self->position_;
    if (whence == SEEK_END) base = self->bytes_.size();
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return static_cast<toff_t>(-1);
    const uint64_t target = base + offset;
    if (target > std::numeric_limits<size_t>::max() / 2) return static_cast<toff_t>(-1);
    // As in a file, a position past the end is fine; the gap reads as zeros once written.
    self->position_ = static_cast<size_t>(target);
    return target;
}

int memoryTiff::close(thandle_t) { return 0; }

toff_t memoryTiff::size(thandle_t h) { return static_cast<memoryTiff*>(h)->bytes_.size(); }

}  // namespace ringtrace
