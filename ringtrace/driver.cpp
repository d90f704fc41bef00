#include "driver.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "graph/page_reuse.h"
#include "image_input.h"
#include "output_file.h"
#include "pair_trace.h"
#include "progress_line.h"
#include "render_output.h"

namespace ringtrace {

namespace {

void complain(const std::string& what) {
    std::fprintf(stderr, "ringtrace: %s\n", what.c_str());
    std::fflush(stderr);
}

void reportNotRead() {
    std::printf("%s\n", kNotReadMessage);
    std::fflush(stdout);
}

// Releases in the fixed order: the rasters before their handles, the output handle last.
void releaseAll(inputImages& in, TIFF* out) {
    releaseRasters(in);
    if (in.primary != nullptr) TIFFClose(in.primary);
    if (in.secondary != nullptr) TIFFClose(in.secondary);
    if (out != nullptr) TIFFClose(out);
    in = inputImages{};
}

// Writes every companion to its temporary file. False (with a message given) when one fails.
bool writeCompanions(const std::vector<companionFile>& companions, const tracerReport& report,
                     std::vector<std::unique_ptr<pendingOutput>>& pending) {
    std::string why;
    for (const companionFile& file : companions) {
        pending.push_back(std::make_unique<pendingOutput>());
        if (!pending.back()->write(file.path, file.render(report), why)) {
            complain(why);
            return false;
        }
    }
    return true;
}

}  // namespace

const char* statusMeaning(int status) {
    switch (status) {
        case EXIT_TRACED: return "traced";
        case EXIT_NOT_READ: return kNotReadMessage;
        case EXIT_NOT_WRITTEN: return "output not written";
        case EXIT_REFUSED: return "refused";
        default: return "failed";
    }
}

int runTracer(const tracerPaths& paths, tracerReport* reportOut, const std::vector<companionFile>& companions) {
    // The huge pages of the files' bytes, the rasters and the pricing's tables go on to hold
    // the costs, the search's state and "new.tif" instead of being cleared afresh for them.
    // Declared first, so that it outlives every block of the run.
    ringgraph::page_reuse keptPages;
    inputImages in;
    std::string why;
    const inputStatus status = readInputs(paths.primary, paths.secondary, in, why);
    if (status == inputStatus::noImage) {
        reportNotRead();
        return EXIT_NOT_READ;
    }
    if (status == inputStatus::refused) {
        complain(why);
        return EXIT_REFUSED;
    }
    const bool readFailed = status == inputStatus::readFailed;
    if (readFailed) reportNotRead();
    // Everything is read: the files go now, and with them the pages of their mappings,
    // which would otherwise stay resident beside the rasters all run.
    TIFFClose(in.primary);
    if (in.secondary != nullptr) TIFFClose(in.secondary);
    in.primary = in.secondary = nullptr;

    pendingOutput output;
    TIFF* out = output.open(paths.output, why);
    if (out == nullptr) {
        complain(why);
        releaseAll(in, nullptr);
        return EXIT_NOT_WRITTEN;
    }

    const int32_t W = in.width, H = in.height;
    bool written = false;
    tracerReport report;
    report.width = W;
    report.height = H;
    report.status = readFailed ? EXIT_NOT_READ : EXIT_TRACED;
    try {
        progressLine line;
        // The evaluator keeps the red components it needs: the rasters' pages go back as soon
        // as it is built. The image is written from the contour's pixels, row by row.
        traceRasters(in.primaryRaster, in.secondaryRaster, W, H, report, nullptr, nullptr, line.callback(),
                     [&in] { releaseRasters(in); });
        line.clear();
        output.expect(contourFileBytes(W, H));
        written = writeContour(out, report.contour, W, H);
        if (reportOut != nullptr) *reportOut = report;
    } catch (const std::bad_alloc&) {
        complain("not enough memory to trace an image of " + std::to_string(W) + " x " + std::to_string(H) +
                 " pixels");
        releaseAll(in, out);
        return EXIT_REFUSED;
    }
    releaseAll(in, out);
    if (!written) {
        output.abandon();
        complain(std::string("writing ") + paths.output + " failed");
        return EXIT_NOT_WRITTEN;
    }
    std::vector<std::unique_ptr<pendingOutput>> pending;
    try {
        if (!writeCompanions(companions, report, pending)) return EXIT_NOT_WRITTEN;
    } catch (const std::bad_alloc&) {
        complain("not enough memory to write the files beside " + std::string(paths.output));
        return EXIT_NOT_WRITTEN;
    }
    if (!output.commit(why)) {
        complain(why);
        return EXIT_NOT_WRITTEN;
    }
    for (auto& file : pending) {
        if (!file->commit(why)) {
            complain(why);
            return EXIT_NOT_WRITTEN;
        }
    }
    return report.status;
}

}  // namespace ringtrace
