#include "array_factory.h"

namespace hv::detail {

std::size_t elementSize(hvClassID classID) {
    namespace c = hv::classid;
    switch (classID) {
        case c::kLogical:
        case c::kInt8:
        case c::kUint8:
            return 1;
        case c::kInt16:
        case c::kUint16:
        case c::kHalf:
            return 2;
        case c::kSingle:
        case c::kInt32:
        case c::kUint32:
            return 4;
        case c::kDouble:
        case c::kInt64:
        case c::kUint64:
            return 8;
        default:
            return 0;
    }
}

}  // namespace hv::detail
