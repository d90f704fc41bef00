#pragma once

#include <iosfwd>
#include <string>

namespace ringview {

inline constexpr const char* kPrimaryName = "outx.tif";
inline constexpr const char* kResultName = "new.tif";
inline constexpr const char* kOverlayName = "overlay.png";

// Exit statuses of the ringview command.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// Reads dir/outx.tif and dir/new.tif and writes dir/overlay.png. Reports the result on
// out and problems on err; returns an exit status.
int drawOverlay(const std::string& dir, std::ostream& out, std::ostream& err);

// Converts a greyscale TIFF into an 8-bit grey PNG.
int convertGrey(const std::string& input, const std::string& output, std::ostream& out,
                std::ostream& err);

}  // namespace ringview
