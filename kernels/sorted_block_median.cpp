#include "sorted_block_median.h"

namespace mediankernels {

namespace {

// A region whose sorted items, ranks and keys stay in the second-level cache.
constexpr int kBlockElements = 16384;

}  // namespace

int blockRegionElements(int maskWidth, int maskHeight) {
    const int64_t count = int64_t{maskWidth} * maskHeight;
    int64_t elements = kBlockElements;
    while (elements < 4 * count && elements < kMaxBlockElements) elements *= 2;
    return static_cast<int>(elements);
}

}  // namespace mediankernels
