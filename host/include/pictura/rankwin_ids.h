#pragma once

#include <string>

#include "pictura/message_id.h"

// Errors raised by the median window extension.
namespace pictura::rankwin {

class HV_API badNumInputs : public MessageId {
  public:
    badNumInputs();
    ~badNumInputs() override;
};

class HV_API unsupportedDataType : public MessageId {
  public:
    unsupportedDataType();
    ~unsupportedDataType() override;
};

// Input 1 is not a real array of at least two 64-bit floats.
class HV_API badWindowArgument : public MessageId {
  public:
    badWindowArgument();
    ~badWindowArgument() override;
};

// A window value is NaN or infinite.
class HV_API nonFiniteWindow : public MessageId {
  public:
    nonFiniteWindow();
    ~nonFiniteWindow() override;
};

// The truncated window [m n] is not within 1..rows by 1..columns.
class HV_API windowOutOfRange : public MessageId {
  public:
    windowOutOfRange(long long m, long long n, unsigned long long rows, unsigned long long columns);
    ~windowOutOfRange() override;
};

// Input 0 is complex or has more than two dimensions.
class HV_API badImageArgument : public MessageId {
  public:
    badImageArgument();
    ~badImageArgument() override;
};

// A line of the image is too long in bytes (or it has too many columns) for
// the 32-bit steps and sizes of the kernels.
class HV_API sizeTooLarge : public MessageId {
  public:
    sizeTooLarge();
    ~sizeTooLarge() override;
};

// The kernel library does not provide the kernel this element type needs.
class HV_API kernelUnavailable : public MessageId {
  public:
    explicit kernelUnavailable(const std::string& kernelName);
    ~kernelUnavailable() override;
};

}  // namespace pictura::rankwin
