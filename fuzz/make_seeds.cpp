// Writes the seed corpora of both fuzz targets:
//   fuzz_make_seeds TRACER_DIR RANKWIN_DIR
// Tracer seeds are small valid input pairs, generated as the example generator makes
// them and re-encoded in every layout the reader meets in practice (RGB, greyscale,
// palette, 16-bit, RGBA, tiled, LZW, Deflate, multi-strip), plus a few edge sizes.
// Plug-in seeds are calls of every supported class, odd and even windows, and one call
// for each refusal.

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "call_encoding.h"
#include "pair_encoding.h"
#include "ring_generator.h"
#include "tiff_fixtures.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool put(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

int failures = 0;

void require(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_make_seeds: %s\n", what.c_str());
        ++failures;
    }
}

Bytes channel(const Bytes& rgb, int c) {
    Bytes out;
    for (std::size_t i = static_cast<std::size_t>(c); i < rgb.size(); i += 3) out.push_back(rgb[i]);
    return out;
}

template <typename Writer>
Bytes encoded(const fixtures::ScratchDir& tmp, const std::string& name, Writer write) {
    const std::string path = tmp.file(name);
    require(write(path), "cannot write " + name);
    return slurp(path);
}

void tracerSeeds(const std::string& dir) {
    const fixtures::ScratchDir tmp;
    ringgen::RingParams p;
    p.width = 24;
    p.height = 16;
    p.seed = 7;
    ringgen::RingImages ring;
    std::string error;
    require(ringgen::generateRing(p, &ring, &error), error);
    const auto W = static_cast<std::uint32_t>(ring.width), H = static_cast<std::uint32_t>(ring.height);
    const Bytes& a = ring.primary;
    const Bytes& b = ring.secondary;
    auto save = [&](const std::string& name, const Bytes& primary, const Bytes& secondary, bool missing = false) {
        require(put(dir + "/" + name, fuzzpair::encode(primary, secondary, missing)), "cannot save " + name);
    };
    auto rgbPair = [&](const std::string& name, const fixtures::Layout& layout) {
        const Bytes first = encoded(tmp, name + "_a.tif", [&](const std::string& f) { return fixtures::writeRgb8(f, W, H, a, layout); });
        const Bytes second = encoded(tmp, name + "_b.tif", [&](const std::string& f) { return fixtures::writeRgb8(f, W, H, b, layout); });
        save(name, first, second);
    };

    rgbPair("rgb", {});
    rgbPair("rgb_lzw", {fixtures::Compression::Lzw});
    rgbPair("rgb_deflate", {fixtures::Compression::Deflate});
    rgbPair("rgb_tiled", {fixtures::Compression::None, true});
    rgbPair("rgb_tiled_lzw", {fixtures::Compression::Lzw, true});
    rgbPair("rgb_strips", {fixtures::Compression::None, false, 3});
    rgbPair("rgb_flipped", {fixtures::Compression::None, false, 0, 4});

    const Bytes rgbA = encoded(tmp, "a.tif", [&](const std::string& f) { return fixtures::writeRgb8(f, W, H, a); });
    const Bytes rgbB = encoded(tmp, "b.tif", [&](const std::string& f) { return fixtures::writeRgb8(f, W, H, b); });
    save("rgb_single", rgbA, {});
    save("rgb_no_secondary", rgbA, {}, true);

    const Bytes red = channel(a, 0);
    save("grey", encoded(tmp, "g.tif", [&](const std::string& f) { return fixtures::writeGrey8(f, W, H, red); }), rgbB);

    fixtures::Palette palette;
    for (int i = 0; i < 256; ++i) {
        palette.red.push_back(static_cast<std::uint16_t>(i * 257));
        palette.green.push_back(static_cast<std::uint16_t>((64 + i / 4) * 257));
        palette.blue.push_back(static_cast<std::uint16_t>((255 - i) * 257));
    }
    save("palette", encoded(tmp, "p.tif", [&](const std::string& f) { return fixtures::writePalette8(f, W, H, red, palette); }), rgbB);

    std::vector<std::uint16_t> wide(a.begin(), a.end());
    for (auto& v : wide) v = static_cast<std::uint16_t>(v * 257);
    save("rgb16", encoded(tmp, "w.tif", [&](const std::string& f) { return fixtures::writeRgb16(f, W, H, wide); }), rgbB);
    std::vector<std::uint16_t> wideGrey(red.begin(), red.end());
    for (auto& v : wideGrey) v = static_cast<std::uint16_t>(v * 257);
    save("grey16_strips", encoded(tmp, "wg.tif", [&](const std::string& f) {
             return fixtures::writeGrey16(f, W, H, wideGrey, {fixtures::Compression::Lzw, false, 5});
         }), rgbB);

    Bytes rgba;
    for (std::size_t i = 0; i < a.size(); i += 3) rgba.insert(rgba.end(), {a[i], a[i + 1], a[i + 2], 200});
    save("rgba", encoded(tmp, "r.tif", [&](const std::string& f) {
             return fixtures::writeRgba8(f, W, H, rgba, fixtures::Alpha::Associated);
         }), rgbB);

    std::vector<float> grey(red.begin(), red.end());
    save("float", encoded(tmp, "f.tif", [&](const std::string& f) { return fixtures::writeGreyFloat(f, W, H, grey); }), rgbB);

    // Secondary larger and smaller than the primary.
    const Bytes big = encoded(tmp, "big.tif", [&](const std::string& f) {
        return fixtures::writeRgb8(f, W + 5, H + 3, Bytes(static_cast<std::size_t>((W + 5) * (H + 3) * 3), 90));
    });
    const Bytes small = encoded(tmp, "small.tif", [&](const std::string& f) {
        return fixtures::writeRgb8(f, W - 9, H - 4, Bytes(static_cast<std::size_t>((W - 9) * (H - 4) * 3), 90));
    });
    save("secondary_larger", rgbA, big);
    save("secondary_smaller", rgbA, small);

    // Edge sizes: the smallest image, one too narrow to trace, the narrowest traced one.
    for (const auto& size : std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 1}, {2, 7}, {4, 7}, {3, 6}}) {
        const std::uint32_t w = size.first, h = size.second;
        const std::string name = "size_" + std::to_string(w) + "x" + std::to_string(h);
        const Bytes img = encoded(tmp, name + ".tif", [&](const std::string& f) {
            return fixtures::writeRgb8(f, w, h, Bytes(static_cast<std::size_t>(w * h * 3), 100));
        });
        save(name, img, {});
    }

    // A larger ring, still traced whole, and headers claiming more than the data holds.
    ringgen::RingParams q = p;
    q.width = 64;
    q.height = 48;
    ringgen::RingImages large;
    require(ringgen::generateRing(q, &large, &error), error);
    save("ring_64x48",
         encoded(tmp, "la.tif", [&](const std::string& f) { return fixtures::writeRgb8(f, 64, 48, large.primary); }),
         encoded(tmp, "lb.tif", [&](const std::string& f) { return fixtures::writeRgb8(f, 64, 48, large.secondary); }));
    save("claim_huge", encoded(tmp, "h.tif", [&](const std::string& f) { return fixtures::writeHugeClaim(f); }), {});
    save("claim_300", encoded(tmp, "h3.tif", [&](const std::string& f) { return fixtures::writeHugeClaim(f, 300, 300); }), {});
}

void rankwinSeeds(const std::string& dir) {
    using fuzzcall::Call;
    Bytes noise;
    std::uint32_t state = 12345;
    for (int i = 0; i < 512; ++i) {
        state = state * 1664525u + 1013904223u;
        noise.push_back(static_cast<std::uint8_t>(state >> 24));
    }
    Bytes floats;  // small floats, a NaN, an infinity and both zeros among them
    for (float f : {1.5f, -2.0f, 0.0f, -0.0f, std::numeric_limits<float>::quiet_NaN(), 3.25f,
                    std::numeric_limits<float>::infinity(), -7.0f, 1e-3f}) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&f);
        floats.insert(floats.end(), bytes, bytes + 4);
    }
    auto call = [&](std::int32_t cls, std::uint64_t rows, std::uint64_t columns, double m, double n) {
        Call c;
        c.imageClass = cls;
        c.imageDims = {rows, columns};
        c.windowValues = {m, n};
        c.windowElements = 2;
        c.fill = cls == 7 ? floats : noise;
        return c;
    };
    auto save = [&](const std::string& name, const Call& c) {
        require(put(dir + "/" + name, fuzzcall::encode(c)), "cannot save " + name);
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();

    save("uint8_3x4", call(9, 9, 12, 3, 4));
    save("single_3x3", call(7, 8, 8, 3, 3));
    save("single_even", call(7, 7, 9, 2, 4));
    save("int16_2x2", call(10, 5, 7, 2, 2));
    save("uint16_5x1", call(11, 12, 6, 5, 1));
    save("uint8_whole", call(9, 6, 5, 6, 5));
    save("uint8_1x1", call(9, 4, 4, 1, 1));
    save("fraction", call(9, 8, 8, 2.9, 3.7));
    save("window_0", call(9, 8, 8, 0, 3));
    save("window_rows_plus_1", call(9, 8, 8, 9, 1));
    save("window_nan", call(9, 8, 8, nan, 3));
    save("window_inf", call(9, 8, 8, inf, 3));
    save("window_negative", call(9, 8, 8, -1, 3));
    save("window_huge", call(9, 8, 8, 1e300, 3));
    save("class_double", call(6, 8, 8, 3, 3));
    save("class_int32", call(12, 8, 8, 3, 3));
    Call c = call(9, 8, 8, 3, 3);
    c.windowElements = 1;
    c.windowValues = {3};
    save("window_one_element", c);
    c = call(9, 8, 8, 3, 3);
    c.windowClass = 12;
    c.windowValues.clear();
    save("window_int32", c);
    c = call(9, 8, 8, 3, 3);
    c.windowElements = 3;
    c.windowValues = {3, 3, 9};
    c.windowColumn = true;
    save("window_column_of_3", c);
    c = call(9, 8, 8, 3, 3);
    c.imageComplex = true;
    save("image_complex", c);
    c = call(9, 4, 4, 3, 3);
    c.imageDims = {4, 4, 2};
    save("image_3d", c);
    c = call(9, 4, 4, 3, 3);
    c.imageDims = {4, 4, 1, 1};
    save("image_trailing_singletons", c);
    c = call(9, 8, 8, 3, 3);
    c.inputCount = 1;
    save("one_input", c);
    c.inputCount = 3;
    save("three_inputs", c);
    c = call(9, 8, 8, 3, 3);
    c.outputCount = 0;
    save("no_outputs", c);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_make_seeds TRACER_DIR RANKWIN_DIR\n");
        return 2;
    }
    for (int i = 1; i < 3; ++i) {
        if (mkdir(argv[i], 0755) != 0 && errno != EEXIST) {
            std::perror(argv[i]);
            return 1;
        }
    }
    tracerSeeds(argv[1]);
    rankwinSeeds(argv[2]);
    return failures == 0 ? 0 : 1;
}
