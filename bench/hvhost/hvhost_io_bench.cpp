// hvhost's TIFF input and output against a plain libtiff read and write of the same file.
//
//   hvhost_io_bench [--size N] [--repeat R] [--dir DIR]
//
// For uint8 and float32 pictures of N x N (default 4096): a plain read (scanlines into a
// row-major buffer) and write (the same tags and strips) with libtiff; hvhost's reading and
// writing with the tiled conversion between rows and the host's columns; the same with the
// element-by-element conversion hvhost used before; and, for scale, one 15 x 15 median
// plug-in call on the picture. The methods take turns within each of R rounds (default 9)
// and each row reports the median over the rounds, so a slow spell of a shared machine
// falls on all of them alike.

#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "processor_model.h"
#include "hv/host.h"
#include "plugin.h"
#include "tiff_array.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct Picture {
    const char* name;
    hvClassID classID;
    std::uint16_t format;
    std::uint16_t bits;
};

// The row-major picture a plain program would hold, and its sample layout.
struct RowMajor {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, format = 0;
    std::uint32_t rowsPerStrip = 0;
    std::unique_ptr<unsigned char[]> pixels;  // uninitialised, like a fresh host array
};

RowMajor plainRead(const std::string& path) {
    TiffPtr tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) throw std::runtime_error(path + ": cannot open");
    RowMajor image;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &image.width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &image.height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &image.bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &image.format);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &image.rowsPerStrip);
    const auto line = static_cast<std::size_t>(TIFFScanlineSize64(tif.get()));
    image.pixels.reset(new unsigned char[line * image.height]);
    for (std::uint32_t i = 0; i < image.height; ++i) {
        if (TIFFReadScanline(tif.get(), image.pixels.get() + i * line, i, 0) < 0) {
            throw std::runtime_error(path + ": cannot read row");
        }
    }
    return image;
}

void plainWrite(const std::string& path, const RowMajor& image) {
    TiffPtr tif(TIFFOpen(path.c_str(), "w"));
    if (!tif) throw std::runtime_error(path + ": cannot create");
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, image.width);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, image.height);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, image.bits);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLEFORMAT, image.format);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, image.rowsPerStrip);
    const std::size_t line = static_cast<std::size_t>(image.width) * image.bits / 8;
    for (std::uint32_t i = 0; i < image.height; ++i) {
        if (TIFFWriteScanline(tif.get(), image.pixels.get() + i * line, i, 0) < 0) {
            throw std::runtime_error(path + ": cannot write row");
        }
    }
}

// A noisy picture, so that nothing downstream sees runs of equal values.
hv::ArrayPtr makePicture(const Picture& picture, std::uint64_t side) {
    const std::uint64_t dims[2] = {side, side};
    hv::ArrayPtr array = hv::createArray(picture.classID, dims);
    std::mt19937 random(20261208);
    const std::size_t count = side * side;
    if (picture.bits == 8) {
        auto* data = static_cast<std::uint8_t*>(array->getData());
        for (std::size_t k = 0; k < count; ++k) data[k] = static_cast<std::uint8_t>(random());
    } else {
        auto* data = static_cast<float*>(array->getData());
        std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
        for (std::size_t k = 0; k < count; ++k) data[k] = value(random);
    }
    return array;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Times {
    std::vector<double> read, write, total;
    void add(double r, double w) {
        read.push_back(r);
        write.push_back(w);
        total.push_back(r + w);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t side = 4096;
    int repeat = 9;
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "hvhost_io_bench";
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--size" && k + 1 < argc) {
            side = std::strtoull(argv[++k], nullptr, 10);
        } else if (arg == "--repeat" && k + 1 < argc) {
            repeat = std::atoi(argv[++k]);
        } else if (arg == "--dir" && k + 1 < argc) {
            dir = argv[++k];
        } else {
            std::cerr << "usage: hvhost_io_bench [--size N] [--repeat R] [--dir DIR]\n";
            return 2;
        }
    }
    if (side == 0 || side > 16384 || repeat < 1) {
        std::cerr << "hvhost_io_bench: N must be 1..16384 and R at least 1\n";
        return 2;
    }
    std::filesystem::create_directories(dir);
    TIFFSetWarningHandler(nullptr);

    const hvhost::Plugin plugin(RANKWIN_PLUGIN);
    const Picture pictures[] = {{"uint8", hv::classid::kUint8, SAMPLEFORMAT_UINT, 8},
                                {"float32", hv::classid::kSingle, SAMPLEFORMAT_IEEEFP, 32}};

    std::cout << "hvhost TIFF input and output, " << side << " x " << side << ", median of "
              << repeat << " interleaved rounds, seconds; " << bench::processorModel() << "\n\n"
              << "| picture | plain libtiff read + write | hvhost before (element by element) "
                 "| hvhost now (tiles) | now ÷ plain | before ÷ plain | 15 x 15 median call |\n"
              << "|---|---|---|---|---:|---:|---:|\n";
    bool goalMet = true;
    for (const Picture& picture : pictures) {
        const std::string input = (dir / (std::string(picture.name) + ".tif")).string();
        const std::string output = (dir / (std::string(picture.name) + "-out.tif")).string();
        hvhost::writeTiff(input, *makePicture(picture, side));

        const std::uint64_t windowDims[2] = {1, 2};
        const hv::ArrayPtr window = hv::createArray(hv::classid::kDouble, windowDims);
        static_cast<double*>(window->getData())[0] = 15;
        static_cast<double*>(window->getData())[1] = 15;

        Times plain, before, now;
        std::vector<double> filter;
        // Every write creates its file afresh: replacing the last round's file would add the
        // file system's cost of dropping it, which differs between truncating and renaming.
        auto timeHvhost = [&](Times& times, hvhost::Conversion conversion) {
            auto start = Clock::now();
            const hv::ArrayPtr image = hvhost::readTiff(input, conversion);
            const double read = secondsSince(start);
            std::filesystem::remove(output);
            start = Clock::now();
            hvhost::writeTiff(output, *image, conversion);
            times.add(read, secondsSince(start));
        };
        const std::vector<std::function<void()>> methods = {
            [&] {
                auto start = Clock::now();
                const RowMajor image = plainRead(input);
                const double read = secondsSince(start);
                std::filesystem::remove(output);
                start = Clock::now();
                plainWrite(output, image);
                plain.add(read, secondsSince(start));
            },
            [&] { timeHvhost(before, hvhost::Conversion::plain); },
            [&] { timeHvhost(now, hvhost::Conversion::fast); },
            [&] {
                const hv::ArrayPtr image = hvhost::readTiff(input);
                const hvArray* inputs[2] = {image.get(), window.get()};
                const auto start = Clock::now();
                const auto outputs = hv::callExtension(plugin.entry(), 1, inputs);
                filter.push_back(secondsSince(start));
            },
        };
        // Each round starts with a different method, so none always runs on a warm cache.
        for (int round = 0; round < repeat; ++round) {
            for (std::size_t k = 0; k < methods.size(); ++k) {
                methods[(round + k) % methods.size()]();
            }
        }
        auto cell = [](const Times& t) {
            char text[96];
            std::snprintf(text, sizeof text, "%.4f (read %.4f, write %.4f)", median(t.total),
                          median(t.read), median(t.write));
            return std::string(text);
        };
        const double ratioNow = median(now.total) / median(plain.total);
        const double ratioBefore = median(before.total) / median(plain.total);
        char ratios[96];
        std::snprintf(ratios, sizeof ratios, "%.2f | %.2f | %.4f", ratioNow, ratioBefore,
                      median(filter));
        std::cout << "| " << picture.name << " | " << cell(plain) << " | " << cell(before) << " | "
                  << cell(now) << " | " << ratios << " |\n";
        goalMet = goalMet && ratioNow <= 2.0;
        std::filesystem::remove(input);
        std::filesystem::remove(output);
    }
    std::cout << "\ngoal (now ÷ plain at most 2): " << (goalMet ? "met" : "NOT met") << '\n';
    return 0;
}
