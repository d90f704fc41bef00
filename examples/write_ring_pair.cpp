#include <filesystem>
#include <system_error>

#include "rgb_tiff_writer.h"
#include "ring_generator.h"

namespace ringgen {

bool writeRingPair(const std::string& dir, const RingParams& p, std::vector<double>* ridgeRow,
                   std::string* error) {
    RingImages images;
    if (!generateRing(p, &images, error)) return false;

    namespace fs = std::filesystem;
    const fs::path base = dir.empty() ? fs::path(".") : fs::path(dir);
    std::error_code ec;
    fs::create_directories(base, ec);
    if (ec || !fs::is_directory(base)) {
        if (error) {
            *error = "cannot use output directory " + base.string();
            if (ec) *error += ": " + ec.message();
        }
        return false;
    }
    if (!writeRgb8Tiff((base / kPrimaryName).string(), p.width, p.height, images.primary.data(),
                       error) ||
        !writeRgb8Tiff((base / kSecondaryName).string(), p.width, p.height, images.secondary.data(),
                       error)) {
        return false;
    }
    if (ridgeRow) *ridgeRow = std::move(images.ridgeRow);
    return true;
}

}  // namespace ringgen
