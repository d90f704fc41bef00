// Fuzz target: one call of the plug-in's entry point, made the way the host makes it.
//
// The input describes the call (see call_encoding.h): input count, output count, the
// image's class, complexity and shape, the window's class, shape and values, and the
// data. The harness plays the host: it creates the arrays through libhv, calls
// plxFunction through hv::callExtension, and checks the outcome against what the plug-in
// promises: the one host error the arguments call for, or an output of the right class
// and size holding the window medians. Anything else aborts, as do sanitizer reports.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "call_encoding.h"
#include "hv/host.h"
#include "plugin.h"

namespace {

std::unique_ptr<hvhost::Plugin> plugin;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "rankwin fuzz: %s\n", what.c_str());
    std::abort();
}

void fillBytes(void* data, std::size_t bytes, const std::vector<std::uint8_t>& fill) {
    auto* out = static_cast<std::uint8_t*>(data);
    for (std::size_t b = 0; b < bytes; ++b) out[b] = fill.empty() ? 0 : fill[b % fill.size()];
}

// The error identifier the plug-in must raise for these arguments; empty when the call
// must succeed.
std::string expectedError(const fuzzcall::Call& c, const hvArray& image, const hvArray& window) {
    if (c.inputCount != 2) return "pictura:rankwin:badNumInputs";
    if (image.isComplex() || image.getNumberOfDimensions() > 2) return "pictura:rankwin:badImageArgument";
    if (window.getClassID() != hv::classid::kDouble || window.isComplex() ||
        window.getNumberOfElements() < 2)
        return "pictura:rankwin:badWindowArgument";
    const auto* v = static_cast<const double*>(window.getData());
    if (!std::isfinite(v[0]) || !std::isfinite(v[1])) return "pictura:rankwin:nonFiniteWindow";
    const double m = std::trunc(v[0]), n = std::trunc(v[1]);
    const auto rows = static_cast<double>(image.get_dimensions()[0]);
    const auto columns = static_cast<double>(image.get_dimensions()[1]);
    if (!(m >= 1 && m <= rows && n >= 1 && n <= columns)) return "pictura:rankwin:windowOutOfRange";
    const hvClassID id = image.getClassID();
    if (id != 7 && id != 9 && id != 10 && id != 11) return "pictura:rankwin:unsupportedDataType";
    return "";
}

// Float order of the kernels: NaN above everything, all NaNs equal, -0 below +0.
bool floatLess(float a, float b) {
    if (std::isnan(a)) return false;
    if (std::isnan(b)) return true;
    if (a == b) return std::signbit(a) && !std::signbit(b);
    return a < b;
}

template <typename T>
void checkMedians(const hvArray& image, const hvArray& output, std::uint64_t m, std::uint64_t n) {
    const std::uint64_t R = image.get_dimensions()[0], C = image.get_dimensions()[1];
    const std::uint64_t outR = R - m + 1, outC = C - n + 1;
    const auto* in = static_cast<const T*>(image.getData());
    const auto* out = static_cast<const T*>(output.getData());
    const std::uint64_t positions = outR * outC;
    // Every position when that is cheap, otherwise both ends and an even spread between.
    std::vector<std::uint64_t> checked;
    if (positions * m * n <= 200000) {
        for (std::uint64_t p = 0; p < positions; ++p) checked.push_back(p);
    } else {
        for (std::uint64_t k = 0; k < 16; ++k) checked.push_back(k * positions / 16);
        checked.push_back(positions - 1);
    }
    std::vector<T> block;
    for (const std::uint64_t p : checked) {
        const std::uint64_t i = p % outR, j = p / outR;
        block.clear();
        for (std::uint64_t jj = j; jj < j + n; ++jj)
            for (std::uint64_t ii = i; ii < i + m; ++ii) block.push_back(in[ii + jj * R]);
        auto mid = block.begin() + static_cast<std::ptrdiff_t>(block.size() / 2);
        T expected, got = out[p];
        if constexpr (std::is_same_v<T, float>) {
            std::nth_element(block.begin(), mid, block.end(), floatLess);
            expected = *mid;
            std::uint32_t gotBits, expectedBits;
            std::memcpy(&gotBits, &got, 4);
            std::memcpy(&expectedBits, &expected, 4);
            const bool same = std::isnan(expected) ? gotBits == 0x7fc00000u : gotBits == expectedBits;
            if (!same) fail("wrong float median at output element " + std::to_string(p));
        } else {
            std::nth_element(block.begin(), mid, block.end());
            expected = *mid;
            if (got != expected) fail("wrong median at output element " + std::to_string(p));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Always the kernels built beside the plug-in, whatever the environment says.
    setenv("HV_KERNEL_LIBRARY", MEDIAN_KERNELS, 1);
    unsetenv("HV_KERNEL_LOCATOR_TRACE");
    plugin = std::make_unique<hvhost::Plugin>(RANKWIN_PLUGIN);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzcall::Call c = fuzzcall::decode(data, size);

    // The host's side: arrays it cannot make are not plug-in inputs.
    hv::ArrayPtr image, window;
    try {
        image = hv::createArray(c.imageClass, c.imageDims, c.imageComplex ? hvComplex : hvReal);
        const std::uint64_t wdims[2] = {c.windowColumn ? std::uint64_t(c.windowElements) : 1,
                                        c.windowColumn ? 1 : std::uint64_t(c.windowElements)};
        window = hv::createArray(c.windowClass, wdims, c.windowComplex ? hvComplex : hvReal);
    } catch (const hv::Error&) {
        return 0;
    }
    const std::size_t imageBytes = image->getNumberOfElements() * image->getElementSize();
    fillBytes(image->getData(), imageBytes, c.fill);
    if (image->isComplex()) fillBytes(image->getImagData(), imageBytes, c.fill);
    const std::size_t windowBytes = window->getNumberOfElements() * window->getElementSize();
    if (c.windowClass == hv::classid::kDouble) {
        if (windowBytes > 0) std::memcpy(window->getData(), c.windowValues.data(), windowBytes);
    } else {
        fillBytes(window->getData(), windowBytes, c.fill);
    }
    if (window->isComplex()) fillBytes(window->getImagData(), windowBytes, c.fill);

    const hvArray* all[3] = {image.get(), window.get(), window.get()};
    const std::string expected = expectedError(c, *image, *window);
    std::vector<hv::ArrayPtr> outputs;
    try {
        outputs = hv::callExtension(plugin->entry(), c.outputCount,
                                    std::span<const hvArray* const>(all, static_cast<std::size_t>(c.inputCount)));
    } catch (const hv::Error& error) {
        if (error.identifier() != expected)
            fail("raised " + error.identifier() + ", expected " + (expected.empty() ? "success" : expected));
        return 0;
    }
    if (!expected.empty()) fail("returned normally, expected " + expected);
    if (outputs.empty() || !outputs[0]) fail("output slot 0 left empty");

    const hvArray& out = *outputs[0];
    const auto* v = static_cast<const double*>(window->getData());
    const auto m = static_cast<std::uint64_t>(std::trunc(v[0]));
    const auto n = static_cast<std::uint64_t>(std::trunc(v[1]));
    const std::uint64_t* dims = image->get_dimensions();
    if (out.getClassID() != image->getClassID() || out.isComplex() || out.getNumberOfDimensions() != 2 ||
        out.get_dimensions()[0] != dims[0] - m + 1 || out.get_dimensions()[1] != dims[1] - n + 1)
        fail("output of the wrong class or size");
    switch (image->getClassID()) {
        case hv::classid::kSingle: checkMedians<float>(*image, out, m, n); break;
        case hv::classid::kUint8: checkMedians<std::uint8_t>(*image, out, m, n); break;
        case hv::classid::kInt16: checkMedians<std::int16_t>(*image, out, m, n); break;
        default: checkMedians<std::uint16_t>(*image, out, m, n); break;
    }
    return 0;
}
