#include "commands.h"

#include <filesystem>
#include <ostream>

#include "grey_image.h"
#include "grey_scale.h"
#include "overlay.h"
#include "png_output.h"
#include "primary_image.h"

namespace ringview {

namespace {

int failure(std::ostream& err, const std::string& message) {
    err << "ringview: " << message << '\n';
    return kFailed;
}

std::string sizeText(std::uint32_t w, std::uint32_t h) {
    return std::to_string(w) + " x " + std::to_string(h);
}

}  // namespace

int drawOverlay(const std::string& dir, std::ostream& out, std::ostream& err) {
    const std::filesystem::path base(dir);
    const std::string primaryPath = (base / kPrimaryName).string();
    const std::string resultPath = (base / kResultName).string();
    const std::string overlayPath = (base / kOverlayName).string();

    std::string error;
    Plane8 primary;
    if (!readRedPlane(primaryPath, &primary, &error)) return failure(err, error);
    GreyImage marks;
    if (!readGreyTiff(resultPath, &marks, &error)) return failure(err, error);
    if (marks.width != primary.width || marks.height != primary.height) {
        return failure(err, resultPath + " is " + sizeText(marks.width, marks.height) + " but " +
                                primaryPath + " is " + sizeText(primary.width, primary.height));
    }
    std::uint64_t contourPixels = 0;
    const RgbImage overlay = composeOverlay(primary, marks, &contourPixels);
    if (!writePngAtomically(overlayPath, overlay.width, overlay.height, 3, overlay.pixels,
                            &error)) {
        return failure(err, error);
    }
    out << "ringview: wrote " << overlayPath << " (" << sizeText(overlay.width, overlay.height)
        << ", " << contourPixels << " contour pixels)\n";
    return kOk;
}

int convertGrey(const std::string& input, const std::string& output, std::ostream& out,
                std::ostream& err) {
    std::string error;
    GreyImage image;
    if (!readGreyTiff(input, &image, &error)) return failure(err, error);
    if (!writePngAtomically(output, image.width, image.height, 1, toDisplayGrey(image), &error)) {
        return failure(err, error);
    }
    out << "ringview: wrote " << output << " (" << sizeText(image.width, image.height) << ")\n";
    return kOk;
}

}  // namespace ringview
