// Marking the contour and writing the mirrored output image.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "contour_search.h"
#include "output_image.h"
#include "render_output.h"
#include "scratch_dir.h"
#include "test_images.h"

using namespace ringtrace;
using namespace ringtrace::testing;

namespace {

std::vector<float> traceMarks(imagePair& img, int lo, int hi, int* marked) {
    pricedGrid pg(img);
    ringgraph::node_array<edge> pred(pg.grid.G, ringgraph::nil);
    pathEvaluator ev(pg.grid, img.primary.data(), img.secondary.data(), pred);
    branchNode r(lo, hi, 0, false);
    ev.evaluateInterval(lo, hi, r);
    std::vector<float> m(static_cast<size_t>(img.W * img.H), BACKGROUND_MARK);
    std::vector<contourPixel> walked;
    *marked = markContour(pg.grid, pred, m.data(), &walked);

    // The program marks from the record's path, evaluated without a predecessor array: the
    // same pixels in the same order.
    pathEvaluator alone(pg.grid, img.primary.data(), img.secondary.data());
    branchNode own(lo, hi, 0, false);
    alone.evaluateInterval(lo, hi, own);
    EXPECT_EQ(*own.predecessors, *r.predecessors);
    std::vector<float> fromPath(m.size(), BACKGROUND_MARK);
    std::vector<contourPixel> walkedPath;
    EXPECT_EQ(markPath(pg.grid, *own.predecessors, fromPath.data(), &walkedPath), *marked);
    EXPECT_EQ(walkedPath, walked);
    EXPECT_EQ(fromPath, m);
    return m;
}

// A TIFF handle whose writes fail once `budget` bytes have gone out.
struct failingSink {
    std::vector<uint8_t> bytes;
    size_t budget;
};
tmsize_t sinkWrite(thandle_t h, void* data, tmsize_t n) {
    auto* s = static_cast<failingSink*>(h);
    if (s->bytes.size() + static_cast<size_t>(n) > s->budget) return -1;
    s->bytes.insert(s->bytes.end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + n);
    return n;
}
tmsize_t sinkRead(thandle_t, void*, tmsize_t) { return 0; }
toff_t sinkSeek(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<failingSink*>(h);
    if (whence == SEEK_END) return s->bytes.size();
    if (whence == SEEK_SET && off > s->bytes.size()) s->bytes.resize(off);
    return whence == SEEK_SET ? off : s->bytes.size();
}
int sinkClose(thandle_t) { return 0; }

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
toff_t sinkSize(thandle_t h) { return static_cast<failingSink*>(h)->bytes.size(); }

}  // namespace

TEST(RenderOutput, MarksThePathButNotItsLastNodeNorTheTerminals) {
    imagePair img = uniformPair(20, 15);
    int marked = 0;
    const std::vector<float> m = traceMarks(img, 6, 6, &marked);
    // Row 6, columns 1..17: column 17 enters the sink and stays background.
    EXPECT_EQ(marked, 16);
    for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 20; ++x) {
            const float expected = (y == 6 && x >= 1 && x <= 16) ? CONTOUR_MARK : BACKGROUND_MARK;
            EXPECT_EQ(m[static_cast<size_t>(y * 20 + x)], expected) << x << "," << y;
        }
    }
}

TEST(RenderOutput, LongPathsGetExactlyTheMarksNearestTheSink) {
    const int W = 10012, H = 7;  // one active row: a straight path of W - 3 grid nodes
    imagePair img = uniformPair(W, H);
    int marked = 0;
    const std::vector<float> m = traceMarks(img, 3, 3, &marked);
    EXPECT_EQ(marked, MAX_MARKS);
    const int lastMarked = W - 4, firstMarked = W - 4 - (MAX_MARKS - 1);
    for (int x = 0; x < W; ++x) {
        const bool on = x >= firstMarked && x <= lastMarked;
        ASSERT_EQ(m[static_cast<size_t>(3 * W + x)], on ? CONTOUR_MARK : BACKGROUND_MARK) << "column " << x;
    }
}

TEST(RenderOutput, NilSinkPredecessorMarksNothing) {
    imagePair img = uniformPair(9, 9);
    pricedGrid pg(img);
    ringgraph::node_array<edge> pred(pg.grid.G, ringgraph::nil);
    std::vector<float> m(81, BACKGROUND_MARK);
    EXPECT_EQ(markContour(pg.grid, pred, m.data()), 0);
    EXPECT_EQ(m, std::vector<float>(81, BACKGROUND_MARK));
}

TEST(RenderOutput, ConversionTakesTheCeilingsLowByte) {
    const float marks[] = {120.0f, 160.0f, 119.2f, 255.5f, 0.0f};
    uint8_t bytes[5];
    convertMarks(marks, bytes, 5);
    EXPECT_EQ(bytes[0], 120);
    EXPECT_EQ(bytes[1], 160);
    EXPECT_EQ(bytes[2], 120);
    EXPECT_EQ(bytes[3], 0);  // 256 keeps its low 8 bits
    EXPECT_EQ(bytes[4], 0);
}

TEST(RenderOutput, WritesTheImageMirroredWithItsTags) {
    fixtures::ScratchDir dir;
    const int W = 10, H = 20;
    std::vector<uint8_t> bytes(W * H, 120);
    bytes[5 * W + 3] = 160;  // column 3, row 5 of the inputs
    TIFF* out = TIFFOpen(dir.file("new.tif").c_str(), "w");
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(writeMirrored(out, bytes.data(), W, H));
    TIFFClose(out);
    greyImage img;
    ASSERT_TRUE(readGrey(dir.file("new.tif"), img));
    EXPECT_EQ(img.width, 10u);
    EXPECT_EQ(img.height, 20u);
    EXPECT_EQ(img.samples, 1);
    EXPECT_EQ(img.bits, 8);
    EXPECT_EQ(img.photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(img.orientation, ORIENTATION_TOPLEFT);
    EXPECT_EQ(img.rowsPerStrip, 1u);
    for (uint32_t r = 0; r < 20; ++r) {
        for (uint32_t x = 0; x < 10; ++x) EXPECT_EQ(img.at(x, r), (r == 14 && x == 3) ? 160 : 120);
    }
}

TEST(RenderOutput, AFailedRowStopsTheWritingAndIsReported) {
    const int W = 64, H = 32;
    std::vector<uint8_t> bytes(W * H, 120);
    failingSink sink{{}, 8 + 10 * W};  // header plus ten rows
    TIFF* out = TIFFClientOpen("sink", "w", &sink, sinkRead, sinkWrite, sinkSeek, sinkClose, sinkSize, nullptr, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_FALSE(writeMirrored(out, bytes.data(), W, H));
    TIFFClose(out);
    EXPECT_GE(sink.bytes.size(), static_cast<size_t>(8 + 10 * W));
    EXPECT_EQ(std::vector<uint8_t>(sink.bytes.begin() + 8, sink.bytes.begin() + 8 + 10 * W),
              std::vector<uint8_t>(static_cast<size_t>(10 * W), 120));
}

// The program writes "new.tif" straight from the contour's pixels; the file must be the one
// the mark buffer, converted and mirrored, gives: same bytes, whatever the order of the
// pixels, with rows holding several pixels or none, and the image's edges included.
TEST(RenderOutput, ContourWriterMatchesTheMarkBufferPathByteForByte) {
    fixtures::ScratchDir dir;
    const int W = 37, H = 23;
    const std::vector<std::vector<contourPixel>> contours = {
        {},
        {{3, 5}},
        {{0, 0}, {W - 1, H - 1}, {W - 1, 0}, {0, H - 1}},
        {{5, 9}, {6, 9}, {7, 10}, {5, 9}, {30, 2}, {1, 22}, {12, 11}, {11, 11}, {36, 11}},
    };
    for (const std::vector<contourPixel>& contour : contours) {
        std::vector<float> marks(static_cast<size_t>(W * H), BACKGROUND_MARK);
        for (const contourPixel& p : contour) marks[static_cast<size_t>(p.y * W + p.x)] = CONTOUR_MARK;
        std::vector<uint8_t> bytes(marks.size());
        convertMarks(marks.data(), bytes.data(), bytes.size());
        TIFF* a = TIFFOpen(dir.file("buffer.tif").c_str(), "w");
        TIFF* b = TIFFOpen(dir.file("contour.tif").c_str(), "w");
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(writeMirrored(a, bytes.data(), W, H));
        EXPECT_TRUE(writeContour(b, contour, W, H));
        TIFFClose(a);
        TIFFClose(b);
        EXPECT_EQ(fileBytes(dir.file("buffer.tif")), fileBytes(dir.file("contour.tif")))
            << contour.size() << " pixels";
    }
}

TEST(RenderOutput, ContourWriterStopsAtAFailedRow) {
    const int W = 64, H = 32;
    failingSink sink{{}, 8 + 10 * W};
    TIFF* out = TIFFClientOpen("sink", "w", &sink, sinkRead, sinkWrite, sinkSeek, sinkClose, sinkSize, nullptr, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_FALSE(writeContour(out, {{2, H - 1}}, W, H));
    TIFFClose(out);
    ASSERT_GE(sink.bytes.size(), static_cast<size_t>(8 + 10 * W));
    EXPECT_EQ(sink.bytes[8 + 2], 160);  // output row 0 is input row H - 1
}
