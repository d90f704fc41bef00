#include "pictura/rankwin_ids.h"

namespace pictura::rankwin {
namespace {
std::string id(const char* name) { return std::string("pictura:rankwin:") + name; }
}  // namespace

badNumInputs::badNumInputs()
    : MessageId(id("badNumInputs"),
                "Expected exactly two inputs: a two-dimensional image and a window [m n].") {}
badNumInputs::~badNumInputs() = default;

unsupportedDataType::unsupportedDataType()
    : MessageId(id("unsupportedDataType"),
                "The image must be single, uint8, int16 or uint16 (class id 7, 9, 10 or 11).") {}
unsupportedDataType::~unsupportedDataType() = default;

badWindowArgument::badWindowArgument()
    : MessageId(id("badWindowArgument"),
                "The window must be a real array of at least two doubles [m n].") {}
badWindowArgument::~badWindowArgument() = default;

nonFiniteWindow::nonFiniteWindow()
    : MessageId(id("nonFiniteWindow"), "The window [m n] must hold finite values.") {}
nonFiniteWindow::~nonFiniteWindow() = default;

windowOutOfRange::windowOutOfRange(long long m, long long n, unsigned long long rows,
                                   unsigned long long columns)
    : MessageId(id("windowOutOfRange"),
                "The window [" + std::to_string(m) + " " + std::to_string(n) +
                    "] must satisfy 1 <= m <= rows and 1 <= n <= columns of the " +
                    std::to_string(rows) + "x" + std::to_string(columns) + " image.") {}
windowOutOfRange::~windowOutOfRange() = default;

badImageArgument::badImageArgument()
    : MessageId(id("badImageArgument"),
                "The image must be a real array with at most two dimensions.") {}
badImageArgument::~badImageArgument() = default;

sizeTooLarge::sizeTooLarge()
    : MessageId(id("sizeTooLarge"),
                "The image is too large: a column must stay below 2^31 bytes and the column "
                "count below 2^31.") {}
sizeTooLarge::~sizeTooLarge() = default;

kernelUnavailable::kernelUnavailable(const std::string& kernelName)
    : MessageId(id("kernelUnavailable"),
                "The median kernel " + kernelName +
                    " could not be found; check the kernel library (HV_KERNEL_LIBRARY).") {}
kernelUnavailable::~kernelUnavailable() = default;

}  // namespace pictura::rankwin
