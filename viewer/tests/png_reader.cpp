#include "png_reader.h"

#include <png.h>

#include <cstring>

namespace testpng {

bool readPng(const std::string& path, Picture* picture) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return false;
    // Keep the stored kind, so a test sees whether grey or colour was written.
    if (image.format != PNG_FORMAT_GRAY && image.format != PNG_FORMAT_RGB) {
        png_image_free(&image);
        return false;
    }
    picture->width = image.width;
    picture->height = image.height;
    picture->channels = image.format == PNG_FORMAT_RGB ? 3 : 1;
    picture->pixels.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, picture->pixels.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return false;
    }
    return true;
}

}  // namespace testpng
