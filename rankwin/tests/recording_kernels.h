#pragma once

// A stand-in kernel library for tests: it exports the four published kernel
// names, writes nothing and records every call's arguments. Calls may come
// from several threads at once.

#include <cstddef>
#include <cstdint>

struct RecordedCall {
    const char* kernel;
    const void* src;
    std::int32_t srcStep;
    const void* dst;
    std::int32_t dstStep;
    std::int32_t roiWidth, roiHeight;
    std::int32_t maskWidth, maskHeight;
    std::int32_t anchorX, anchorY;
};

extern "C" {
std::size_t recordedCallCount();
RecordedCall recordedCall(std::size_t index);
void clearRecordedCalls();
// While on, kernel calls from any thread but the one that turned it on throw
// std::runtime_error after being recorded, as a kernel that fails on a worker.
void failKernelsOffThisThread(bool on);
}
