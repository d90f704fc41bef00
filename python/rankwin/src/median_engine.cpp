#include "median_engine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "bands.h"
#include "mediankernels/median_kernels.h"

namespace rankwin::python {
namespace {

constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();
// Arrays extended whole (see extended()); tests lower it to reach the strips.
std::atomic<std::int64_t> wholeCopyElements{1 << 16};

// The kernels under the band runner's signature (the same pairs of 32-bit
// integers, in the structs of the kernels' own header).
template <typename T>
struct Kernel;

#define RANKWIN_KERNEL(T, name)                                                               \
    template <>                                                                               \
    struct Kernel<T> {                                                                        \
        static KernelStatus call(const T* src, std::int32_t srcStep, T* dst,                  \
                                 std::int32_t dstStep, KernelSize roi, KernelSize mask,       \
                                 KernelPoint anchor) {                                        \
            return name(src, srcStep, dst, dstStep, MedianKernelSize{roi.width, roi.height},  \
                        MedianKernelSize{mask.width, mask.height},                            \
                        MedianKernelPoint{anchor.x, anchor.y});                               \
        }                                                                                     \
    };
RANKWIN_KERNEL(std::uint8_t, ippiFilterMedian_8u_C1R)
RANKWIN_KERNEL(std::uint16_t, ippiFilterMedian_16u_C1R)
RANKWIN_KERNEL(std::int16_t, ippiFilterMedian_16s_C1R)
RANKWIN_KERNEL(float, ippiFilterMedian_32f_C1R)
#undef RANKWIN_KERNEL

[[noreturn]] void fail(const std::string& message) { throw std::invalid_argument(message); }

std::int64_t floorMod(std::int64_t value, std::int64_t period) {
    const std::int64_t r = value % period;
    return r < 0 ? r + period : r;
}

// Extents, steps and alignment of a plane that a kernel is to read or write.
void checkPlane(const void* data, std::int64_t width, std::int64_t height, std::int64_t step,
                std::int64_t size, const char* what) {
    if (data == nullptr) fail(std::string(what) + ": no data");
    if (width < 1 || height < 1) fail(std::string(what) + ": empty");
    if (width > kMax32 / size || height > kMax32) {
        fail(std::string(what) + " of " + std::to_string(height) + " x " + std::to_string(width) +
             " elements is beyond the median kernels' 32-bit sizes and steps");
    }
    if (step < width * size || step % size != 0) {
        fail(std::string(what) + ": lines overlap or are not whole elements apart");
    }
    if (step > kMax32) {
        fail(std::string(what) + ": its line step of " + std::to_string(step) +
             " bytes is beyond the median kernels' 32-bit steps");
    }
    if (reinterpret_cast<std::uintptr_t>(data) % static_cast<std::uintptr_t>(size) != 0) {
        fail(std::string(what) + ": not aligned to its element size");
    }
}

void checkMask(std::int64_t maskWidth, std::int64_t maskHeight) {
    if (maskWidth < 1 || maskHeight < 1) fail("the window must span at least one element");
    if (maskWidth > kMax32 || maskHeight > kMax32 || maskWidth * maskHeight > kMax32) {
        fail("a window of " + std::to_string(maskHeight) + " x " + std::to_string(maskWidth) +
             " elements is beyond the median kernels' 32-bit window size");
    }
}

void checkDisjoint(const void* a, std::int64_t aBytes, const void* b, std::int64_t bBytes) {
    const auto aFirst = reinterpret_cast<std::uintptr_t>(a);
    const auto bFirst = reinterpret_cast<std::uintptr_t>(b);
    if (aFirst < bFirst + static_cast<std::uintptr_t>(bBytes) &&
        bFirst < aFirst + static_cast<std::uintptr_t>(aBytes)) {
        fail("the output shares memory with the input");
    }
}

std::int64_t spanBytes(std::int64_t width, std::int64_t height, std::int64_t step,
                       std::int64_t size) {
    return (height - 1) * step + width * size;
}

// The destination's own checks, and that it shares no byte with the source.
void checkDestination(const ConstPlane& source, const Plane& destination, std::int64_t size) {
    checkPlane(destination.data, destination.width, destination.height, destination.step, size,
               "the output");
    checkDisjoint(source.data, spanBytes(source.width, source.height, source.step, size),
                  destination.data,
                  spanBytes(destination.width, destination.height, destination.step, size));
}

// Calls run(T{}) with T the element type `type` names.
template <typename Run>
void forElementType(ElementType type, Run&& run) {
    switch (type) {
        case ElementType::u8:
            return run(std::uint8_t{});
        case ElementType::u16:
            return run(std::uint16_t{});
        case ElementType::i16:
            return run(std::int16_t{});
        case ElementType::f32:
            return run(float{});
    }
}

// One kernel call (or one per band) over checked arguments.
template <typename T>
void runValid(const unsigned char* source, std::int64_t sourceStep, unsigned char* destination,
              std::int64_t destinationStep, std::int64_t width, std::int64_t height,
              std::int64_t maskWidth, std::int64_t maskHeight, int threads) {
    const auto sourceElements = static_cast<std::uint64_t>(width + maskWidth - 1) *
                                static_cast<std::uint64_t>(height + maskHeight - 1);
    filterInBands<T>(&Kernel<T>::call, source, static_cast<std::int32_t>(sourceStep), destination,
                     static_cast<std::int32_t>(destinationStep),
                     KernelSize{static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)},
                     KernelSize{static_cast<std::int32_t>(maskWidth),
                                static_cast<std::int32_t>(maskHeight)},
                     KernelPoint{0, 0}, threadsFor(sourceElements, threads), true);
}

template <typename T>
T castTo(double value) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(value);
    } else {
#if defined(__x86_64__) || defined(__i386__)
        // What cvttsd2si does with a 32-bit destination, as SciPy's (T)cvalue compiles here.
        const std::int32_t truncated = value > -2147483649.0 && value < 2147483648.0
                                           ? static_cast<std::int32_t>(value)
                                           : std::numeric_limits<std::int32_t>::min();
        return static_cast<T>(truncated);
#else
        // The target's own conversion, as SciPy's C code compiles on it.
        volatile double converted = value;
        return static_cast<T>(converted);
#endif
    }
}

// The output range [first, last) along an axis of `length` whose windows lie
// within the source, less a margin: the kernels filter a strip of a few lines
// at up to twice the cost per element of a long one (31 x 31 floats: 48 ns
// for 15 lines against 27 for 64), so a border strip, when there is one,
// is made at least twice the window's extent thick (64 at most) from the
// interior. No interior: first = last = length.
std::pair<std::int64_t, std::int64_t> interior(std::int64_t length, std::int64_t mask,
                                               std::int64_t shift) {
    const std::int64_t valid = length - mask + 1;
    if (valid < 1) return {length, length};
    const std::int64_t thickness = std::min<std::int64_t>(2 * mask, 64);
    std::int64_t first = shift;
    std::int64_t last = shift + valid;
    if (first > 0) first = std::max(first, thickness);
    if (last < length) last = std::min(last, length - thickness);
    if (first >= last) return {length, length};
    return {first, last};
}

// out[c * outStride + r] = in[r * inStride + c] for `rows` x `cols` elements of
// `in`, in tiles that keep both sides in the cache.
template <typename T>
void transpose(const T* in, std::int64_t inStride, T* out, std::int64_t outStride,
               std::int64_t rows, std::int64_t cols) {
    constexpr std::int64_t kTile = 32;
    for (std::int64_t r0 = 0; r0 < rows; r0 += kTile) {
        const std::int64_t r1 = std::min(rows, r0 + kTile);
        for (std::int64_t c0 = 0; c0 < cols; c0 += kTile) {
            const std::int64_t c1 = std::min(cols, c0 + kTile);
            for (std::int64_t r = r0; r < r1; ++r) {
                for (std::int64_t c = c0; c < c1; ++c) out[c * outStride + r] = in[r * inStride + c];
            }
        }
    }
}

template <typename T>
void extended(ConstPlane source, Plane destination, std::int64_t maskWidth,
              std::int64_t maskHeight, std::int64_t shiftX, std::int64_t shiftY, Extend mode,
              T constant, int threads) {
    constexpr std::int64_t E = sizeof(T);
    const std::int64_t W = source.width;
    const std::int64_t H = source.height;
    const auto* src = static_cast<const unsigned char*>(source.data);
    auto* dst = static_cast<unsigned char*>(destination.data);

    // The interior, filtered in place: columns [x0, x1), lines [y0, y1).
    const auto [x0, x1] = interior(W, maskWidth, shiftX);
    const auto [y0, y1] = interior(H, maskHeight, shiftY);

    // The destination block [xa, xb) x [ya, yb) from an extended copy of the
    // source elements its windows read. The kernels run far faster along long
    // lines than across many short ones, so a block taller than wide (the left
    // and right strips) is filtered transposed, with the window transposed
    // (the median of a window does not depend on its order).
    std::vector<std::int64_t> columns;
    std::vector<T> buffer;
    std::vector<T> flipped;
    std::vector<T> result;
    const auto block = [&](std::int64_t ya, std::int64_t yb, std::int64_t xa, std::int64_t xb) {
        if (ya >= yb || xa >= xb) return;
        const std::int64_t bw = xb - xa + maskWidth - 1;
        const std::int64_t bh = yb - ya + maskHeight - 1;
        const bool across = xb - xa < yb - ya;
        if ((across ? bh : bw) > kMax32 / E || (across ? bw : bh) > kMax32) {
            fail("the window's border extension is beyond the median kernels' 32-bit steps");
        }
        columns.resize(static_cast<std::size_t>(bw));
        for (std::int64_t c = 0; c < bw; ++c) {
            columns[static_cast<std::size_t>(c)] = extendIndex(xa - shiftX + c, W, mode);
        }
        buffer.resize(static_cast<std::size_t>(bw) * static_cast<std::size_t>(bh));
        // Columns [inFirst, inLast) of the block read source columns in order.
        const std::int64_t inFirst = std::clamp<std::int64_t>(shiftX - xa, 0, bw);
        const std::int64_t inLast = std::clamp<std::int64_t>(W + shiftX - xa, inFirst, bw);
        for (std::int64_t r = 0; r < bh; ++r) {
            T* out = buffer.data() + r * bw;
            const std::int64_t line = extendIndex(ya - shiftY + r, H, mode);
            if (line < 0) {
                std::fill(out, out + bw, constant);
                continue;
            }
            const auto* in = reinterpret_cast<const T*>(src + line * source.step);
            std::memcpy(out + inFirst, in + (xa - shiftX + inFirst),
                        static_cast<std::size_t>(inLast - inFirst) * sizeof(T));
            const auto outside = [&](std::int64_t c) {
                const std::int64_t column = columns[static_cast<std::size_t>(c)];
                out[c] = column < 0 ? constant : in[column];
            };
            for (std::int64_t c = 0; c < inFirst; ++c) outside(c);
            for (std::int64_t c = inLast; c < bw; ++c) outside(c);
        }
        if (!across) {
            runValid<T>(reinterpret_cast<const unsigned char*>(buffer.data()), bw * E,
                        dst + ya * destination.step + xa * E, destination.step, xb - xa, yb - ya,
                        maskWidth, maskHeight, threads);
            return;
        }
        flipped.resize(buffer.size());
        transpose(buffer.data(), bw, flipped.data(), bh, bh, bw);
        result.resize(static_cast<std::size_t>(xb - xa) * static_cast<std::size_t>(yb - ya));
        runValid<T>(reinterpret_cast<const unsigned char*>(flipped.data()), bh * E,
                    reinterpret_cast<unsigned char*>(result.data()), (yb - ya) * E, yb - ya,
                    xb - xa, maskHeight, maskWidth, threads);
        transpose(result.data(), yb - ya, reinterpret_cast<T*>(dst + ya * destination.step) + xa,
                  destination.step / E, xb - xa, yb - ya);
    };
    // A small array is extended whole, into one kernel call: below some 64 K
    // elements the calls' fixed costs outweigh the copy.
    if ((W + maskWidth - 1) * (H + maskHeight - 1) <= wholeCopyElements.load()) {
        block(0, H, 0, W);
        return;
    }
    block(0, y0, 0, W);
    block(y1, H, 0, W);
    block(y0, y1, 0, x0);
    block(y0, y1, x1, W);
    if (x0 < x1 && y0 < y1) {
        runValid<T>(src + (y0 - shiftY) * source.step + (x0 - shiftX) * E, source.step,
                    dst + y0 * destination.step + x0 * E, destination.step, x1 - x0, y1 - y0,
                    maskWidth, maskHeight, threads);
    }
}

}  // namespace

std::int64_t elementSize(ElementType type) {
    switch (type) {
        case ElementType::u8:
            return 1;
        case ElementType::u16:
        case ElementType::i16:
            return 2;
        case ElementType::f32:
            return 4;
    }
    return 1;
}

std::int64_t extendIndex(std::int64_t index, std::int64_t length, Extend mode) {
    if (index >= 0 && index < length) return index;
    switch (mode) {
        case Extend::constant:
            return -1;
        case Extend::nearest:
            return index < 0 ? 0 : length - 1;
        case Extend::wrap:
            return floorMod(index, length);
        case Extend::reflect: {
            const std::int64_t p = floorMod(index, 2 * length);
            return p < length ? p : 2 * length - 1 - p;
        }
        case Extend::mirror: {
            if (length == 1) return 0;
            const std::int64_t p = floorMod(index, 2 * length - 2);
            return p < length ? p : 2 * length - 2 - p;
        }
    }
    return -1;
}

std::int64_t setWholeCopyLimit(std::int64_t elements) { return wholeCopyElements.exchange(elements); }

double castValue(ElementType type, double value) {
    double converted = value;
    forElementType(type, [&](auto element) { converted = castTo<decltype(element)>(value); });
    return converted;
}

void medianValid(ElementType type, ConstPlane source, Plane destination, std::int64_t maskWidth,
                 std::int64_t maskHeight, int threads) {
    const std::int64_t E = elementSize(type);
    checkMask(maskWidth, maskHeight);
    checkPlane(source.data, source.width, source.height, source.step, E, "the input");
    if (maskWidth > source.width || maskHeight > source.height) {
        fail("the window is larger than the array");
    }
    if (destination.width != source.width - maskWidth + 1 ||
        destination.height != source.height - maskHeight + 1) {
        fail("the output's shape does not match the valid region");
    }
    checkDestination(source, destination, E);
    forElementType(type, [&](auto element) {
        runValid<decltype(element)>(static_cast<const unsigned char*>(source.data), source.step,
                                    static_cast<unsigned char*>(destination.data),
                                    destination.step, destination.width, destination.height,
                                    maskWidth, maskHeight, threads);
    });
}

void medianExtended(ElementType type, ConstPlane source, Plane destination,
                    std::int64_t maskWidth, std::int64_t maskHeight, std::int64_t shiftX,
                    std::int64_t shiftY, Extend mode, double constant, int threads) {
    const std::int64_t E = elementSize(type);
    checkMask(maskWidth, maskHeight);
    if (shiftX < 0 || shiftX >= maskWidth || shiftY < 0 || shiftY >= maskHeight) {
        fail("the window's origin lies outside the window");
    }
    checkPlane(source.data, source.width, source.height, source.step, E, "the input");
    if (destination.width != source.width || destination.height != source.height) {
        fail("the output's shape differs from the input's");
    }
    checkDestination(source, destination, E);
    forElementType(type, [&](auto element) {
        using T = decltype(element);
        extended<T>(source, destination, maskWidth, maskHeight, shiftX, shiftY, mode,
                    castTo<T>(constant), threads);
    });
}

}  // namespace rankwin::python
