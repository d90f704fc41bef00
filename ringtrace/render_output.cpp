#include "render_output.h"

#include <cmath>
#include <cstring>

namespace ringtrace {

int markContour(const pixelGrid& grid, const ringgraph::node_array<edge>& pred, float* markBuffer,
                std::vector<contourPixel>* walked) {
    const ringgraph::lattice& G = grid.G;
    const edge last = pred[grid.sinkTerminal];
    if (last == ringgraph::nil) return 0;
    node v = G.opposite(last, grid.sinkTerminal);
    int steps = 0;
    int marked = 0;
    while (pred[v] != ringgraph::nil) {
        ++steps;
        v = G.opposite(pred[v], v);
        if (steps > MAX_MARKS) break;
        if (v == grid.sourceTerminal) break;
        const int32_t id = grid.A[v];
        const int32_t x = id / grid.height, y = id % grid.height;
        markBuffer[static_cast<size_t>(y) * static_cast<size_t>(grid.width) + static_cast<size_t>(x)] = CONTOUR_MARK;
        if (walked != nullptr) walked->push_back(contourPixel{x, y});
        ++marked;
    }
    return marked;
}

void convertMarks(const float* markBuffer, uint8_t* byteBuffer, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        byteBuffer[i] = static_cast<uint8_t>(static_cast<int>(std::ceil(markBuffer[i])) & 0xff);
    }
}

bool writeMirrored(TIFF* out, const uint8_t* byteBuffer, int32_t width, int32_t height) {
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(out, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, OUTPUT_PHOTOMETRIC);
    const tmsize_t lineBytes = TIFFScanlineSize(out);
    auto* line = static_cast<uint8_t*>(_TIFFmalloc(lineBytes > width ? lineBytes : width));
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 1);
    if (line == nullptr) return false;

    bool ok = true;
    for (int32_t r = 0; r < height; ++r) {
        std::memcpy(line, byteBuffer + static_cast<size_t>(height - 1 - r) * static_cast<size_t>(width),
                    static_cast<size_t>(width));
        if (TIFFWriteScanline(out, line, static_cast<uint32_t>(r), 0) < 0) {
            ok = false;
            break;
        }
    }
    // Push everything out now, while a failure can still be reported.
    if (ok && TIFFFlush(out) == 0) ok = false;
    _TIFFfree(line);
    return ok;
}

}  // namespace ringtrace
