#pragma once

// Internal to libhv: making and freeing arrays, and the record of the
// extension call that is running on this thread.

#include <cstddef>
#include <cstdint>

#include "hv/hv.h"

namespace hv::detail {

class ArrayFactory {
  public:
    // Raises a host error for a non-numeric class or an impossible size.
    static hvArray* make(std::size_t ndims, const std::uint64_t* dims, hvClassID classID,
                         hvComplexity complexity);
    static void destroy(hvArray* array);
};

// Bytes per element of a numeric class, 0 for a class without numeric elements.
std::size_t elementSize(hvClassID classID);

// Hands a freshly made array to the running extension call, if any.
void adoptIntoCurrentCall(hvArray* array);

}  // namespace hv::detail
