// Output files are written to a temporary file beside them and renamed over them only once
// they are complete, so a run that fails or is killed never destroys the result of an
// earlier run. Until it is committed or abandoned, a temporary file is removed by the
// termination signals (SIGTERM, SIGINT, SIGHUP, SIGQUIT) before the process dies.
#pragma once

#include <tiffio.h>

#include <memory>
#include <string>

#include "memory_tiff.h"

namespace ringtrace {

class pendingOutput {
public:
    pendingOutput() = default;
    // With `guardSignals` false the termination signals are left alone: the process's own
    // handlers (an interpreter's, say) stay in place, and the temporary file is removed only
    // by abandon() or the destructor.
    explicit pendingOutput(bool guardSignals) : guardSignals_(guardSignals) {}
    pendingOutput(const pendingOutput&) = delete;
    pendingOutput& operator=(const pendingOutput&) = delete;
    ~pendingOutput();  // abandons an output that was not committed

    // Creates the temporary file and opens a TIFF for writing whose bytes reach it at
    // commit() (in one write: see memoryTiff). Null on failure (`error` says why).
    TIFF* open(const std::string& finalPath, std::string& error);
    // Tells the image opened by open() how large it will be about (see memoryTiff::reserve).
    void expect(size_t bytes) {
        if (image_) image_->reserve(bytes);
    }
    // Creates the temporary file and writes `content` into it. False on failure (`error`
    // says why; nothing is left behind).
    bool write(const std::string& finalPath, const std::string& content, std::string& error);
    // After the handle has been closed: writes the image opened by open() into the
    // temporary file and renames that over the final path. False on failure (`error` says
    // why; nothing is left behind).
    bool commit(std::string& error);
    // Removes the temporary file, if any.
    void abandon();

    const std::string& temporaryPath() const { return temporary_; }

private:
    int create(const std::string& finalPath, std::string& error);

    std::string final_;
    std::string temporary_;
    int slot_ = -1;  // the signal guard's entry for the temporary file
    int fd_ = -1;    // the temporary file while open() has an image for it
    std::unique_ptr<memoryTiff> image_;
    bool guardSignals_ = true;
};

// Writes all `size` bytes at `fd`'s position, again where a write is interrupted or
// partial. False with errno set when a write fails (ENOSPC when one writes nothing).
bool writeAll(int fd, const void* data, size_t size);

}  // namespace ringtrace
