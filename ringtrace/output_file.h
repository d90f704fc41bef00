// "new.tif" is written to a temporary file beside it and renamed over it only once it is
// complete, so a run that fails or is killed never destroys the result of an earlier run.
#pragma once

#include <tiffio.h>

#include <string>

namespace ringtrace {

class pendingOutput {
public:
    pendingOutput() = default;
    pendingOutput(const pendingOutput&) = delete;
    pendingOutput& operator=(const pendingOutput&) = delete;
    ~pendingOutput();  // abandons an output that was not committed

    // Creates the temporary file and opens it for writing. Null on failure (`error` says why).
    TIFF* open(const std::string& finalPath, std::string& error);
    // After the handle has been closed: renames the temporary file over the final path.
    bool commit(std::string& error);
    // Removes the temporary file, if any.
    void abandon();

    const std::string& temporaryPath() const { return temporary_; }

private:
    std::string final_;
    std::string temporary_;
};

}  // namespace ringtrace
