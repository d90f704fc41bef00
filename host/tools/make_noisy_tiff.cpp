// Writes a uint8 test picture, smooth rings with salt-and-pepper noise,
// for the median filter demonstration:
//   make-noisy-tiff OUTPUT.tif [WIDTH HEIGHT]

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <random>

#include "hv/host.h"
#include "tiff_array.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::cerr << "usage: make-noisy-tiff OUTPUT.tif [WIDTH HEIGHT]\n";
        return 1;
    }
    const std::uint64_t width = argc == 4 ? std::strtoull(argv[2], nullptr, 10) : 256;
    const std::uint64_t height = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 192;
    if (width == 0 || height == 0 || width > 16384 || height > 16384) {
        std::cerr << "make-noisy-tiff: WIDTH and HEIGHT must be 1..16384\n";
        return 1;
    }
    try {
        const std::uint64_t dims[2] = {height, width};
        const hv::ArrayPtr image = hv::createArray(hv::classid::kUint8, dims);
        auto* pixels = static_cast<std::uint8_t*>(image->getData());
        std::mt19937 random(20261207);  // fixed, so every run shows the same picture
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        const double cx = width / 2.0, cy = height / 2.0;
        for (std::uint64_t j = 0; j < width; ++j) {
            for (std::uint64_t i = 0; i < height; ++i) {
                const double r = std::hypot(j - cx, i - cy);
                double value = 128.0 + 90.0 * std::cos(r / 6.0);
                const double noise = chance(random);
                if (noise < 0.06) value = 0.0;
                if (noise > 0.94) value = 255.0;
                pixels[i + j * height] = static_cast<std::uint8_t>(value);
            }
        }
        hvhost::writeTiff(argv[1], *image);
    } catch (const std::exception& error) {
        std::cerr << "make-noisy-tiff: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
