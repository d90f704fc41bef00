#include "column_histogram_window.h"
#include "isa_kernels.h"

namespace mediankernels::MK_ISA_NS {

void columnHistogramMedian8u(const MedianJob& job, uint8_t* columns) {
    const auto target = static_cast<uint32_t>(job.maskWidth * job.maskHeight / 2);
    // Locals, not the job's fields: the stores could alias those.
    unsigned char* const dst = job.dst;
    const std::ptrdiff_t dstStep = job.dstStep;
    // One slide for both directions, its output placed by the steps of its
    // two coordinates: compiled once, not once per direction.
    const auto slide = [&](BinGrid grid, int outColumns, int outLines, int maskColumns,
                           int maskLines, std::ptrdiff_t columnStep, std::ptrdiff_t lineStep) {
        slideColumnHistograms(grid, outColumns, outLines, maskColumns, maskLines, target, columns,
                              [=](int x, int y, uint8_t median) {
                                  dst[x * columnStep + y * lineStep] = median;
                              });
    };
    if (columnHistogramAcross(job.maskHeight)) {
        // Columns count at most kMaxColumnLines: a taller mask slides down
        // the picture's columns, its lines along the picture's lines.
        slide({job.origin, job.srcStep, 1}, job.height, job.width, job.maskHeight, job.maskWidth,
              dstStep, 1);
        return;
    }
    slide({job.origin, 1, job.srcStep}, job.width, job.height, job.maskWidth, job.maskHeight, 1,
          dstStep);
}

}  // namespace mediankernels::MK_ISA_NS
