// MedianFilter on its own, outside the plug-in: what it refuses before any
// kernel runs.

#include "median_filter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "hv/host.h"
#include "recording_kernels.h"

namespace {

std::string raisedBy(const rankwin::MedianFilter& filter, const std::uint64_t* dims,
                     rankwin::Window window) {
    std::vector<unsigned char> source(64), destination(64);
    try {
        filter.filter(source.data(), dims, destination.data(), window);
    } catch (const hv::Error& error) {
        return error.identifier();
    }
    return "";
}

class MedianFilterAlone : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("HV_KERNEL_LIBRARY", RECORDING_KERNELS, 1);
        clearRecordedCalls();
    }
    void TearDown() override { unsetenv("HV_KERNEL_LIBRARY"); }
};

TEST_F(MedianFilterAlone, NoClassBeforeTheFirstCall) {
    const rankwin::MedianFilter filter;
    EXPECT_EQ(filter.getClassID(), 0);
    const std::uint64_t dims[2] = {5, 4};
    EXPECT_EQ(raisedBy(filter, dims, {3, 3}), "pictura:rankwin:unsupportedDataType");
    EXPECT_EQ(recordedCallCount(), 0u);
}

TEST_F(MedianFilterAlone, ClassSelectsTheKernelOfItsElementType) {
    rankwin::MedianFilter filter;
    const std::uint64_t dims[2] = {5, 4};
    const std::pair<hvClassID, const char*> classes[] = {{hv::classid::kInt16, "16s"},
                                                         {hv::classid::kUint16, "16u"},
                                                         {hv::classid::kUint8, "8u"},
                                                         {hv::classid::kSingle, "32f"}};
    for (const auto& [id, kernel] : classes) {
        filter.setClassID(id);
        EXPECT_EQ(raisedBy(filter, dims, {3, 3}), "");
        ASSERT_GT(recordedCallCount(), 0u);
        EXPECT_STREQ(recordedCall(recordedCallCount() - 1).kernel, kernel);
    }
}

TEST_F(MedianFilterAlone, LinesBeyondThe32BitStepsAreRefused) {
    rankwin::MedianFilter filter;
    // Only the dimension vector is consulted before the refusal.
    const std::uint64_t tallFloat[2] = {(1ull << 31) / 4, 1};
    const std::uint64_t tallByte[2] = {1ull << 31, 1};
    const std::uint64_t wide[2] = {1, 1ull << 31};
    const std::uint64_t wrapsToSmall[2] = {(1ull << 32) + 5, 4};
    filter.setClassID(hv::classid::kSingle);
    EXPECT_EQ(raisedBy(filter, tallFloat, {1, 1}), "pictura:rankwin:sizeTooLarge");
    filter.setClassID(hv::classid::kUint8);
    EXPECT_EQ(raisedBy(filter, tallByte, {1, 1}), "pictura:rankwin:sizeTooLarge");
    EXPECT_EQ(raisedBy(filter, wide, {1, 1}), "pictura:rankwin:sizeTooLarge");
    EXPECT_EQ(raisedBy(filter, wrapsToSmall, {3, 3}), "pictura:rankwin:sizeTooLarge");
    EXPECT_EQ(recordedCallCount(), 0u);
    // The largest line that fits still runs.
    const std::uint64_t largest[2] = {(1ull << 31) / 4 - 1, 1};
    filter.setClassID(hv::classid::kSingle);
    EXPECT_EQ(raisedBy(filter, largest, {1, 1}), "");
}

TEST_F(MedianFilterAlone, MissingKernelIsReportedAtTheCall) {
    setenv("HV_KERNEL_LIBRARY", "/nonexistent/libmediankernels.so", 1);
    rankwin::MedianFilter filter;
    const std::uint64_t dims[2] = {5, 4};
    for (const hvClassID id :
         {hv::classid::kUint8, hv::classid::kUint16, hv::classid::kInt16, hv::classid::kSingle}) {
        filter.setClassID(id);
        EXPECT_EQ(raisedBy(filter, dims, {3, 3}), "pictura:rankwin:kernelUnavailable");
    }
}

}  // namespace
