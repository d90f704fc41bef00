#include "png_output.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ringview {

namespace {

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Permissions a plainly created file would get; mkstemp alone gives 0600.
mode_t ordinaryFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Encodes into the open file. Returns false with a message on any failure.
bool encode(std::FILE* file, std::uint32_t width, std::uint32_t height, int channels,
            const std::vector<std::uint8_t>& pixels, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    const png_int_32 stride = static_cast<png_int_32>(width) * channels;
    if (png_image_write_to_stdio(&image, file, 0, pixels.data(), stride, nullptr) == 0) {
        *error = std::string("cannot encode PNG: ") + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

}  // namespace

bool writePngAtomically(const std::string& path, std::uint32_t width, std::uint32_t height,
                        int channels, const std::vector<std::uint8_t>& pixels, std::string* error) {
    if ((channels != 1 && channels != 3) || width == 0 || height == 0 ||
        pixels.size() != std::size_t{width} * height * static_cast<std::size_t>(channels)) {
        *error = "cannot write " + path + ": inconsistent picture";
        return false;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = systemError("cannot write " + path);
        return false;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        *error = systemError("cannot write " + path);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    bool ok = true;
    auto fail = [&](const std::string& what) {
        if (ok) *error = systemError(what);
        ok = false;
    };
    if (fchmod(fd, ordinaryFileMode()) != 0) fail("cannot set the mode of " + temp);
    if (ok && !encode(file, width, height, channels, pixels, error)) ok = false;
    if (ok && std::fflush(file) != 0) fail("cannot write " + temp);
    if (std::fclose(file) != 0) fail("cannot write " + temp);
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        fail("cannot rename " + temp + " to " + path);
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace ringview
