#include "column_histogram_window.h"
#include "isa_kernels.h"

namespace mediankernels::MK_ISA_NS {

void columnHistogramMedian8u(const MedianJob& job, uint16_t* columns) {
    const auto target = static_cast<uint32_t>(job.maskWidth * job.maskHeight / 2);
    // Locals, not the job's fields: the stores could alias those.
    unsigned char* const dst = job.dst;
    const std::ptrdiff_t dstStep = job.dstStep;
    slideColumnHistograms({job.origin, 1, job.srcStep}, job.width, job.height, job.maskWidth,
                          job.maskHeight, columns, [=](int x, int y, Window& window) {
                              dst[y * dstStep + x] = window.median(target);
                          });
}

}  // namespace mediankernels::MK_ISA_NS
