#include "column_histogram_window.h"
#include "isa_kernels.h"

namespace mediankernels::MK_ISA_NS {

void columnHistogramMedian8u(const MedianJob& job, uint16_t* columns) {
    const auto target = static_cast<uint32_t>(job.maskWidth * job.maskHeight / 2);
    slideColumnHistograms({job.origin, 1, job.srcStep}, job.width, job.height, job.maskWidth,
                          job.maskHeight, columns, [&](int x, int y, Window& window) {
                              job.dst[y * job.dstStep + x] = window.median(target);
                          });
}

}  // namespace mediankernels::MK_ISA_NS
