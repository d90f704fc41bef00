#include "recording_kernels.h"

#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "kernel_signature.h"

using rankwin::KernelPoint;
using rankwin::KernelSize;

namespace {

std::mutex& callsMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<RecordedCall>& calls() {
    static std::vector<RecordedCall> recorded;
    return recorded;
}

// The thread that asked for failures elsewhere; none while off.
std::optional<std::thread::id>& failingExcept() {
    static std::optional<std::thread::id> id;
    return id;
}

std::int32_t record(const char* kernel, const void* src, std::int32_t srcStep, const void* dst,
                    std::int32_t dstStep, KernelSize roi, KernelSize mask, KernelPoint anchor) {
    const std::lock_guard lock(callsMutex());
    calls().push_back({kernel, src, srcStep, dst, dstStep, roi.width, roi.height, mask.width,
                       mask.height, anchor.x, anchor.y});
    if (failingExcept() && *failingExcept() != std::this_thread::get_id()) {
        throw std::runtime_error("kernel failed on a worker");
    }
    return 0;
}

}  // namespace

extern "C" {

std::size_t recordedCallCount() {
    const std::lock_guard lock(callsMutex());
    return calls().size();
}
RecordedCall recordedCall(std::size_t index) {
    const std::lock_guard lock(callsMutex());
    return calls().at(index);
}
void clearRecordedCalls() {
    const std::lock_guard lock(callsMutex());
    calls().clear();
}
void failKernelsOffThisThread(bool on) {
    const std::lock_guard lock(callsMutex());
    failingExcept() = on ? std::optional(std::this_thread::get_id()) : std::nullopt;
}

std::int32_t ippiFilterMedian_8u_C1R(const std::uint8_t* src, std::int32_t srcStep,
                                     std::uint8_t* dst, std::int32_t dstStep, KernelSize roi,
                                     KernelSize mask, KernelPoint anchor) {
    return record("8u", src, srcStep, dst, dstStep, roi, mask, anchor);
}
std::int32_t ippiFilterMedian_16u_C1R(const std::uint16_t* src, std::int32_t srcStep,
                                      std::uint16_t* dst, std::int32_t dstStep, KernelSize roi,
                                      KernelSize mask, KernelPoint anchor) {
    return record("16u", src, srcStep, dst, dstStep, roi, mask, anchor);
}
std::int32_t ippiFilterMedian_16s_C1R(const std::int16_t* src, std::int32_t srcStep,
                                      std::int16_t* dst, std::int32_t dstStep, KernelSize roi,
                                      KernelSize mask, KernelPoint anchor) {
    return record("16s", src, srcStep, dst, dstStep, roi, mask, anchor);
}
std::int32_t ippiFilterMedian_32f_C1R(const float* src, std::int32_t srcStep, float* dst,
                                      std::int32_t dstStep, KernelSize roi, KernelSize mask,
                                      KernelPoint anchor) {
    return record("32f", src, srcStep, dst, dstStep, roi, mask, anchor);
}
}
