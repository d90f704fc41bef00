#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "array_factory.h"
#include "hv/hv.h"

namespace {

// Class field value meaning "the id is too large for the field; see wideClassID_".
constexpr std::uint32_t kWideClassMarker = hv::classid::kLargestInline + 1;

[[noreturn]] void raise(const char* name, const std::string& message) {
    hvErrMsgId(pictura::MessageId(std::string("hv:array:") + name, message));
}

std::uint64_t checkedProduct(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) raise("tooLarge", "Array size overflows.");
    return product;
}

}  // namespace

hvArray::~hvArray() {
    std::free(data_);
    std::free(imag_);
    delete[] dims_;
}

hvClassID hvArray::extendedClassID() const {
    return classField_ == kWideClassMarker ? wideClassID_ : hv::classid::kUnknown;
}

const std::uint64_t* hvArray::get_dimensions() const { return dims_; }

std::size_t hvArray::getNumberOfDimensions() const { return ndims_; }

std::uint64_t hvArray::getNumberOfElements() const {
    std::uint64_t count = 1;
    for (std::size_t d = 0; d < ndims_; ++d) count *= dims_[d];
    return count;
}

std::size_t hvArray::getElementSize() const { return hv::detail::elementSize(getClassID()); }

namespace hv::detail {

hvArray* ArrayFactory::make(std::size_t ndims, const std::uint64_t* dims, hvClassID classID,
                            hvComplexity complexity) {
    const std::size_t elemSize = elementSize(classID);
    if (elemSize == 0) {
        raise("notNumeric", "Class id " + std::to_string(classID) + " has no numeric elements.");
    }
    // Every array has at least two dimensions; trailing singletons beyond those are dropped.
    std::size_t kept = ndims;
    while (kept > 2 && dims[kept - 1] == 1) --kept;
    const std::size_t stored = kept < 2 ? 2 : kept;
    std::uint64_t count = 1;
    for (std::size_t d = 0; d < stored; ++d) count = checkedProduct(count, d < kept ? dims[d] : 1);
    const std::uint64_t bytes = checkedProduct(count, elemSize);
    if (bytes > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
        raise("tooLarge", "Array of " + std::to_string(bytes) + " bytes is too large.");
    }

    auto* array = new hvArray();
    array->dims_ = new std::uint64_t[stored];
    array->ndims_ = stored;
    for (std::size_t d = 0; d < stored; ++d) array->dims_[d] = d < kept ? dims[d] : 1;
    if (classID <= hv::classid::kLargestInline) {
        array->classField_ = static_cast<std::uint32_t>(classID);
    } else {
        array->classField_ = kWideClassMarker;
        array->wideClassID_ = classID;
    }
    if (bytes > 0) {
        array->data_ = std::malloc(bytes);
        if (complexity == hvComplex) array->imag_ = std::malloc(bytes);
        if (array->data_ == nullptr || (complexity == hvComplex && array->imag_ == nullptr)) {
            destroy(array);
            raise("outOfMemory",
                  "Out of memory for an array of " + std::to_string(bytes) + " bytes.");
        }
    } else if (complexity == hvComplex) {
        // An empty complex array still reports itself complex.
        array->imag_ = std::malloc(1);
    }
    return array;
}

void ArrayFactory::destroy(hvArray* array) { delete array; }

}  // namespace hv::detail

hvArray* hvCreateUninitNumericArray(std::size_t ndims, const std::uint64_t* dims, hvClassID classID,
                                    hvComplexity complexity) {
    hvArray* array = hv::detail::ArrayFactory::make(ndims, dims, classID, complexity);
    hv::detail::adoptIntoCurrentCall(array);
    return array;
}
