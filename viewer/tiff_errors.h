#pragma once

// libtiff reports problems through process-wide handlers. While a capture object
// lives, messages are kept instead of printed, so that each command can say in one
// line what went wrong with which file.

#include <string>

namespace ringview {

class TiffErrorCapture {
  public:
    TiffErrorCapture();
    ~TiffErrorCapture();
    TiffErrorCapture(const TiffErrorCapture&) = delete;
    TiffErrorCapture& operator=(const TiffErrorCapture&) = delete;

    // ": <first message>" when libtiff reported an error since construction, else "".
    std::string suffix() const;
};

}  // namespace ringview
