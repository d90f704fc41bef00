#include "column_histogram_window.h"
#include "isa_kernels.h"

namespace mediankernels::MK_ISA_NS {

void columnHistogramMedian8u(const MedianJob& job, uint8_t* columns) {
    const auto target = static_cast<uint32_t>(job.maskWidth * job.maskHeight / 2);
    // Locals, not the job's fields: the stores could alias those.
    unsigned char* const dst = job.dst;
    const std::ptrdiff_t dstStep = job.dstStep;
    if (columnHistogramAcross(job.maskHeight)) {
        // Columns count at most kMaxColumnLines: a taller mask slides down
        // the picture's columns, its lines along the picture's lines.
        slideColumnHistograms({job.origin, job.srcStep, 1}, job.height, job.width, job.maskHeight,
                              job.maskWidth, target, columns,
                              [=](int y, int x, uint8_t median) { dst[y * dstStep + x] = median; });
        return;
    }
    slideColumnHistograms({job.origin, 1, job.srcStep}, job.width, job.height, job.maskWidth,
                          job.maskHeight, target, columns,
                          [=](int x, int y, uint8_t median) { dst[y * dstStep + x] = median; });
}

}  // namespace mediankernels::MK_ISA_NS
