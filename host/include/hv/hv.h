#pragma once

// The array interface that extensions use. Arrays are column-major: element
// (i, j) of an R-row array lies i + j * R elements after the data pointer.

#include <cstddef>
#include <cstdint>

#include "hv/visibility.h"
#include "pictura/message_id.h"

using hvClassID = std::int32_t;

namespace hv::classid {
inline constexpr hvClassID kUnknown = 0;
inline constexpr hvClassID kLogical = 3;
inline constexpr hvClassID kDouble = 6;
inline constexpr hvClassID kSingle = 7;
inline constexpr hvClassID kInt8 = 8;
inline constexpr hvClassID kUint8 = 9;
inline constexpr hvClassID kInt16 = 10;
inline constexpr hvClassID kUint16 = 11;
inline constexpr hvClassID kInt32 = 12;
inline constexpr hvClassID kUint32 = 13;
inline constexpr hvClassID kInt64 = 14;
inline constexpr hvClassID kUint64 = 15;
// Ids above this do not fit the array's class field and are looked up out of line.
inline constexpr hvClassID kLargestInline = 16;
inline constexpr hvClassID kHalf = 18;  // 16-bit IEEE float
}  // namespace hv::classid

enum hvComplexity : std::int32_t { hvReal = 0, hvComplex = 1 };

namespace hv::detail {
class ArrayFactory;
}

class HV_API hvArray {
  public:
    hvArray(const hvArray&) = delete;
    hvArray& operator=(const hvArray&) = delete;

    hvClassID getClassID() const {
        return classField_ <= static_cast<std::uint32_t>(hv::classid::kLargestInline)
                   ? static_cast<hvClassID>(classField_)
                   : extendedClassID();
    }
    // First real element; null for an empty array.
    void* getData() const { return data_; }
    // Imaginary parts of a complex array, laid out like the real parts.
    void* getImagData() const { return imag_; }
    bool isComplex() const { return imag_ != nullptr; }

    // At least two sizes; trailing singleton dimensions beyond the second are dropped.
    const std::uint64_t* get_dimensions() const;
    std::size_t getNumberOfDimensions() const;
    std::uint64_t getNumberOfElements() const;
    std::size_t getElementSize() const;

  private:
    friend class hv::detail::ArrayFactory;
    hvArray() = default;
    ~hvArray();
    hvClassID extendedClassID() const;

    std::uint32_t classField_ = 0;
    hvClassID wideClassID_ = 0;  // valid when classField_ exceeds kLargestInline
    std::uint64_t* dims_ = nullptr;
    std::size_t ndims_ = 0;
    void* data_ = nullptr;
    void* imag_ = nullptr;
};

// Creates an array whose elements are left uninitialised. During an
// extension call the host owns it (see hv/host.h). Raises a host error for a
// class without numeric elements or a size that cannot be allocated.
HV_API hvArray* hvCreateUninitNumericArray(std::size_t ndims, const std::uint64_t* dims,
                                           hvClassID classID, hvComplexity complexity);

// Raises the host error that `id` names. Does not return: the error unwinds
// through the extension back to the host.
[[noreturn]] HV_API void hvErrMsgId(const pictura::MessageId& id);

// The extension entry point every plug-in exports with C linkage.
using hvExtensionEntry = void (*)(std::int32_t outputCount, hvArray* outputs[],
                                  std::int32_t inputCount, const hvArray* inputs[]);
