// Fuzz target: the tracer's input side, and the whole tracer on small images.
//
// Each input becomes "outx.tif" and "outx1.tif" (see pair_encoding.h) in a scratch
// directory of this process (in /dev/shm when there is one, to spare the disk). The real
// input phase reads them; when it yields an image of at most 64 x 64 pixels the whole
// program runs on the same files through runTracer. Besides sanitizer reports, the
// harness aborts when a promise of the input phase or the program is broken: a size
// within the limits, rasters present exactly when the primary was read, the documented
// exit statuses, and a "new.tif" of the primary's size with nothing else left behind.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "driver.h"
#include "image_input.h"
#include "pair_encoding.h"

namespace {

constexpr std::int64_t kWholeRunPixels = 64 * 64;

std::string scratch;
std::string primaryPath, secondaryPath, outputPath;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "tracer fuzz: %s\n", what.c_str());
    std::abort();
}

void removeScratch() {
    if (DIR* dir = opendir(scratch.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") unlink((scratch + "/" + name).c_str());
        }
        closedir(dir);
    }
    rmdir(scratch.c_str());
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) fail("cannot write " + path);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) fail("short write");
    std::fclose(f);
}

std::set<std::string> filesInScratch() {
    std::set<std::string> names;
    if (DIR* dir = opendir(scratch.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        closedir(dir);
    }
    return names;
}

void checkOutput(std::int32_t width, std::int32_t height) {
    TIFF* out = TIFFOpen(outputPath.c_str(), "r");
    if (out == nullptr) fail("new.tif missing or unreadable after a run that wrote it");
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, samples = 0;
    TIFFGetField(out, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(out, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(out, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(out, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFClose(out);
    if (std::int64_t{w} != width || std::int64_t{h} != height || bits != 8 || samples != 1)
        fail("new.tif has the wrong size or format");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // libtiff's complaints about broken files are expected by the thousand; the tracer's
    // one-line messages on standard output too. Sanitizer reports still reach stderr.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
        dup2(devnull, STDOUT_FILENO);
        close(devnull);
    }
    struct stat st {};
    std::string base = (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) ? "/dev/shm" : "/tmp";
    if (const char* tmp = std::getenv("FUZZ_SCRATCH_ROOT")) base = tmp;
    std::string pattern = base + "/ringtrace-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) fail("cannot create a scratch directory in " + base);
    scratch = pattern;
    primaryPath = scratch + "/outx.tif";
    secondaryPath = scratch + "/outx1.tif";
    outputPath = scratch + "/new.tif";
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzpair::Pair pair = fuzzpair::decode(data, size);
    writeFile(primaryPath, pair.primary);
    if (pair.secondaryMissing) {
        unlink(secondaryPath.c_str());
    } else {
        writeFile(secondaryPath, pair.secondary);
    }
    unlink(outputPath.c_str());

    ringtrace::inputImages in;
    std::string why;
    const ringtrace::inputStatus status = ringtrace::readInputs(primaryPath.c_str(), secondaryPath.c_str(), in, why);
    const bool opened = status == ringtrace::inputStatus::read || status == ringtrace::inputStatus::readFailed;
    if (opened) {
        if (in.primary == nullptr || in.primaryRaster == nullptr || in.secondaryRaster == nullptr)
            fail("an image that was read has no handle or raster");
        if (in.width <= 0 || in.height <= 0 || std::int64_t{in.width} * in.height > ringtrace::kMaxPixels)
            fail("an image that was read has a size outside the limits");
        if (in.width < 3 && in.height >= 7) fail("a too narrow image was not refused");
        if (pair.secondaryMissing && status == ringtrace::inputStatus::read) fail("a missing outx1.tif counted as read");
    } else if (in.primary != nullptr || in.secondary != nullptr || in.primaryRaster != nullptr ||
               in.secondaryRaster != nullptr) {
        fail("an image that was not read left a handle or raster behind");
    }
    const std::int32_t width = in.width, height = in.height;
    ringtrace::releaseRasters(in);
    if (in.primary != nullptr) TIFFClose(in.primary);
    if (in.secondary != nullptr) TIFFClose(in.secondary);

    if (!opened || std::int64_t{width} * height > kWholeRunPixels) return 0;

    const ringtrace::tracerPaths paths{primaryPath.c_str(), secondaryPath.c_str(), outputPath.c_str()};
    const int rc = ringtrace::runTracer(paths);
    const int expectedRc = status == ringtrace::inputStatus::read ? ringtrace::EXIT_TRACED : ringtrace::EXIT_NOT_READ;
    if (rc != expectedRc)
        fail("exit status " + std::to_string(rc) + " where the input phase called for " + std::to_string(expectedRc));
    checkOutput(width, height);
    std::set<std::string> expectedFiles{"outx.tif", "new.tif"};
    if (!pair.secondaryMissing) expectedFiles.insert("outx1.tif");
    if (filesInScratch() != expectedFiles) fail("the run left files other than new.tif behind");
    return 0;
}
