#include "median_filter.h"

#include <cstddef>
#include <limits>

#include "bands.h"
#include "hv/hv.h"
#include "kernel_signature.h"
#include "kernellocator/kernel_locator.h"
#include "pictura/rankwin_ids.h"

namespace rankwin {
namespace {

constexpr const char* kName8u = "ippiFilterMedian_8u_C1R";
constexpr const char* kName16u = "ippiFilterMedian_16u_C1R";
constexpr const char* kName16s = "ippiFilterMedian_16s_C1R";
constexpr const char* kName32f = "ippiFilterMedian_32f_C1R";

// A kernel that was not found would otherwise be called through a null address.
void* requireEntry(void* entry, const char* name) {
    if (entry == nullptr) {
        pictura::rankwin::kernelUnavailable id(name);
        hvErrMsgId(id);
    }
    return entry;
}

}  // namespace

MedianFilter::MedianFilter()
    : locator(new KernelLocator(default_client)),
      classID(0),
      median8u(locator->getMethodPointer(kName8u)),
      median16u(locator->getMethodPointer(kName16u)),
      median16s(locator->getMethodPointer(kName16s)),
      median32f(locator->getMethodPointer(kName32f)) {}

MedianFilter::~MedianFilter() { delete locator; }

void MedianFilter::filter(const void* sourceData, const std::uint64_t* sourceDims,
                          void* destinationData, Window window) const {
    switch (classID) {
        case hv::classid::kSingle:
            return callKernel<float>(sourceData, sourceDims, destinationData, window,
                                     requireEntry(median32f, kName32f));
        case hv::classid::kUint8:
            return callKernel<std::uint8_t>(sourceData, sourceDims, destinationData, window,
                                            requireEntry(median8u, kName8u));
        case hv::classid::kInt16:
            return callKernel<std::int16_t>(sourceData, sourceDims, destinationData, window,
                                            requireEntry(median16s, kName16s));
        case hv::classid::kUint16:
            return callKernel<std::uint16_t>(sourceData, sourceDims, destinationData, window,
                                             requireEntry(median16u, kName16u));
        default: {
            pictura::rankwin::unsupportedDataType id;
            hvErrMsgId(id);
        }
    }
}

template <typename T>
void MedianFilter::callKernel(const void* sourceData, const std::uint64_t* sourceDims,
                              void* destinationData, Window window, void* entry) {
    constexpr std::int32_t E = sizeof(T);
    constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
    // Steps and extents are 32-bit: a longer column or more columns would wrap.
    if (sourceDims[0] > kMax / E || sourceDims[1] > kMax) {
        pictura::rankwin::sizeTooLarge id;
        hvErrMsgId(id);
    }
    const auto R = static_cast<std::int32_t>(sourceDims[0]);
    const auto C = static_cast<std::int32_t>(sourceDims[1]);
    const std::int32_t ax = (window.m - 1) / 2;
    const std::int32_t ay = (window.n - 1) / 2;
    // The offset spans up to half the image, so it is computed in full width.
    const std::ptrdiff_t anchorOffset = E * (ax + static_cast<std::ptrdiff_t>(ay) * R);
    const auto* source = static_cast<const unsigned char*>(sourceData) + anchorOffset;
    auto* destination = static_cast<unsigned char*>(destinationData);
    const std::int32_t sourceStep = R * E;
    const std::int32_t destinationStep = (R - window.m + 1) * E;
    const KernelSize region{R - window.m + 1, C - window.n + 1};
    const KernelSize mask{window.m, window.n};
    const KernelPoint anchor{ax, ay};
    const auto kernel = reinterpret_cast<MedianKernel<T>>(entry);

    // The workers only run the kernel; nothing on them raises a host error.
    filterInBands(kernel, source, sourceStep, destination, destinationStep, region, mask, anchor,
                  threadsFor(static_cast<std::uint64_t>(R) * static_cast<std::uint64_t>(C)));
}

}  // namespace rankwin
