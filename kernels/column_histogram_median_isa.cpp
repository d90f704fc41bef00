#include <cstring>

#include "column_histogram_window.h"
#include "isa_kernels.h"

namespace mediankernels::MK_ISA_NS {

void columnHistogramMedian8u(const MedianJob& job, uint16_t* columns) {
    const int sourceWidth = job.width + job.maskWidth - 1;
    const auto target = static_cast<uint32_t>(job.maskWidth * job.maskHeight / 2);
    std::memset(columns, 0, sizeof(uint16_t) * kColumnBins * static_cast<std::size_t>(sourceWidth));
    for (int r = 0; r < job.maskHeight; ++r) {
        const unsigned char* line = job.origin + r * job.srcStep;
        for (int x = 0; x < sourceWidth; ++x) count(columns + x * kColumnBins, line[x], 1);
    }
    Window window(columns, job.maskWidth);
    for (int y = 0; y < job.height; ++y) {
        if (y > 0) {
            // The columns drop line y - 1 and take in line y + maskHeight - 1.
            const unsigned char* leaving = job.origin + (y - 1) * job.srcStep;
            const unsigned char* entering = leaving + job.maskHeight * job.srcStep;
            for (int x = 0; x < sourceWidth; ++x) {
                count(columns + x * kColumnBins, leaving[x], 0xFFFF);
                count(columns + x * kColumnBins, entering[x], 1);
            }
        }
        unsigned char* out = job.dst + y * job.dstStep;
        window.start();
        out[0] = window.median(target);
        for (int x = 1; x < job.width; ++x) {
            window.step();
            out[x] = window.median(target);
        }
    }
}

}  // namespace mediankernels::MK_ISA_NS
