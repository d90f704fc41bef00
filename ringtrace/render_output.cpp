#include "render_output.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ringtrace {

namespace {

// One contour node: its pixel marked in the buffer and listed, where either is wanted.
void markPixel(const pixelGrid& grid, node v, float* markBuffer, std::vector<contourPixel>* walked) {
    const int32_t id = grid.A[v];
    const int32_t x = id / grid.height, y = id % grid.height;
    if (markBuffer != nullptr) {
        markBuffer[static_cast<size_t>(y) * static_cast<size_t>(grid.width) + static_cast<size_t>(x)] = CONTOUR_MARK;
    }
    if (walked != nullptr) walked->push_back(contourPixel{x, y});
}

}  // namespace

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
        markPixel(grid, v, markBuffer, walked);
        ++marked;
    }
    return marked;
}

int markPath(const pixelGrid& grid, const std::vector<edge>& path, float* markBuffer,
             std::vector<contourPixel>* walked) {
    const ringgraph::lattice& G = grid.G;
    if (path.empty()) return 0;
    node v = G.opposite(path[0], grid.sinkTerminal);
    int marked = 0;
    for (size_t k = 1; k < path.size(); ++k) {
        v = G.opposite(path[k], v);
        if (k > static_cast<size_t>(MAX_MARKS)) break;
        if (v == grid.sourceTerminal) break;
        markPixel(grid, v, markBuffer, walked);
        ++marked;
    }
    return marked;
}

void convertMarks(const float* markBuffer, uint8_t* byteBuffer, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        byteBuffer[i] = static_cast<uint8_t>(static_cast<int>(std::ceil(markBuffer[i])) & 0xff);
    }
}

namespace {

// The output tags, and a scanline buffer of at least `width` bytes allocated between the
// seventh and the eighth (null when it cannot be had).
uint8_t* startOutput(TIFF* out, int32_t width, int32_t height) {
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
    return line;
}

// Writes the rows top to bottom, `fill` making output row r in the line first. Stops at the
// first row that fails; pushes everything out at the end, while a failure can still be
// reported.
template <class Fill>
bool writeRows(TIFF* out, uint8_t* line, int32_t height, Fill fill) {
    if (line == nullptr) return false;
    bool ok = true;
    for (int32_t r = 0; r < height; ++r) {
        fill(line, r);
        if (TIFFWriteScanline(out, line, static_cast<uint32_t>(r), 0) < 0) {
            ok = false;
            break;
        }
    }
    if (ok && TIFFFlush(out) == 0) ok = false;
    _TIFFfree(line);
    return ok;
}

}  // namespace

bool writeMirrored(TIFF* out, const uint8_t* byteBuffer, int32_t width, int32_t height) {
    uint8_t* line = startOutput(out, width, height);
    return writeRows(out, line, height, [&](uint8_t* l, int32_t r) {
        std::memcpy(l, byteBuffer + static_cast<size_t>(height - 1 - r) * static_cast<size_t>(width),
                    static_cast<size_t>(width));
    });
}

bool writeContour(TIFF* out, const std::vector<contourPixel>& contour, int32_t width, int32_t height) {
    // Output row r shows input row height - 1 - r: the pixels by row, bottom row first.
    std::vector<contourPixel> byRow(contour);
    std::sort(byRow.begin(), byRow.end(), [](const contourPixel& a, const contourPixel& b) { return a.y > b.y; });
    const uint8_t background = static_cast<uint8_t>(static_cast<int>(std::ceil(BACKGROUND_MARK)) & 0xff);
    const uint8_t mark = static_cast<uint8_t>(static_cast<int>(std::ceil(CONTOUR_MARK)) & 0xff);
    size_t next = 0;
    uint8_t* line = startOutput(out, width, height);
    return writeRows(out, line, height, [&](uint8_t* l, int32_t r) {
        std::memset(l, background, static_cast<size_t>(width));
        const int32_t y = height - 1 - r;
        for (; next < byRow.size() && byRow[next].y >= y; ++next) {
            if (byRow[next].y == y) l[byRow[next].x] = mark;
        }
    });
}

}  // namespace ringtrace
