#pragma once

#include <cstdint>

class KernelLocator;

namespace rankwin {

// Window extents: m host rows by n host columns.
struct Window {
    std::int32_t m;
    std::int32_t n;
};

// Binds the four median kernels, resolved by name once when the filter is
// built, and runs the one for the element class of the array at hand over
// its "valid" region. Host columns are the kernels' image lines.
class MedianFilter {
  public:
    MedianFilter();
    virtual ~MedianFilter();
    MedianFilter(const MedianFilter&) = delete;
    MedianFilter& operator=(const MedianFilter&) = delete;

    void setClassID(std::int32_t id) { classID = id; }
    std::int32_t getClassID() const { return classID; }

    // Filters the column-major array `sourceData` of sourceDims[0] rows and
    // sourceDims[1] columns into `destinationData`, which has room for
    // (rows - m + 1) x (columns - n + 1) elements. The window must lie within
    // the array. Raises a host error for an unsupported class, a kernel that
    // was not found, or an array too large for the kernels' 32-bit steps, always
    // before any kernel runs. Arrays of kThreadedElements or more are filtered
    // in bands on threadCount() threads, all joined before this returns.
    void filter(const void* sourceData, const std::uint64_t* sourceDims, void* destinationData,
                Window window) const;

  private:
    template <typename T>
    static void callKernel(const void* sourceData, const std::uint64_t* sourceDims,
                           void* destinationData, Window window, void* entry);

    KernelLocator* locator;
    std::int32_t classID;
    void* median8u;
    void* median16u;
    void* median16s;
    void* median32f;
};

}  // namespace rankwin
