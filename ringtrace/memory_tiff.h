// A TIFF written into memory and handed to the file in one write.
//
// libtiff writes an image of one row per strip as one write and one seek per row; at
// 2048 x 2048 those system calls cost more than making the rows. Written here, the image
// is the same bytes (libtiff is still the writer, and this sink behaves as a file does:
// seeks past the end leave zeros, writes overwrite or extend) and reaches the file in one
// call.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "graph/large_allocator.h"

namespace ringtrace {

class memoryTiff {
public:
    memoryTiff() = default;
    memoryTiff(const memoryTiff&) = delete;
    memoryTiff& operator=(const memoryTiff&) = delete;

    // A handle writing into this object (null when libtiff refuses); `name` is only what
    // libtiff's messages call it. The object must outlive the handle.
    TIFF* open(const char* name);

    // Room for an image of about `bytes` bytes, taken at once: grown by doubling as libtiff
    // writes, a small image would pass through several fresh blocks and be copied on the
    // way. Only a hint: when the room cannot be had, the image grows as it is written.
    void reserve(size_t bytes);

    // Writes everything written so far to `fd` from its start. False on failure, with
    // errno as the failed call left it (ENOSPC for a write that wrote nothing).
    bool saveTo(int fd) const;

    const ringgraph::overwrite_vector<uint8_t>& bytes() const { return bytes_; }

private:
    static tmsize_t read(thandle_t h, void* data, tmsize_t n);
    static tmsize_t write(thandle_t h, void* data, tmsize_t n);
    static toff_t seek(thandle_t h, toff_t offset, int whence);
    static int close(thandle_t h);
    static toff_t size(thandle_t h);

    // In huge pages from a few hundred KiB up (see the large allocator): a 4 MiB image
    // written into fresh small pages cost several milliseconds.
    ringgraph::overwrite_vector<uint8_t> bytes_;  // gaps left by seeks are cleared when written
    size_t position_ = 0;
};

}  // namespace ringtrace
