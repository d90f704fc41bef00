#include "tiff_errors.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>

namespace ringview {

namespace {

// The first error is usually the cause; later ones tend to be consequences.
std::string firstError;
TIFFErrorHandler previousError = nullptr;
TIFFErrorHandler previousWarning = nullptr;

void keepFirstError(const char* module, const char* format, va_list args) {
    if (!firstError.empty()) return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    firstError = module != nullptr && *module != '\0' ? std::string(module) + ": " + text : text;
}

}  // namespace

TiffErrorCapture::TiffErrorCapture() {
    firstError.clear();
    previousError = TIFFSetErrorHandler(keepFirstError);
    // Warnings (unknown tags and the like) do not stop the picture from being shown.
    previousWarning = TIFFSetWarningHandler(nullptr);
}

TiffErrorCapture::~TiffErrorCapture() {
    TIFFSetErrorHandler(previousError);
    TIFFSetWarningHandler(previousWarning);
}

std::string TiffErrorCapture::suffix() const {
    return firstError.empty() ? std::string() : ": " + firstError;
}

}  // namespace ringview
