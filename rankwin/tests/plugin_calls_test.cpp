// The plug-in as the host loads it, over a kernel library that records its
// arguments: what each call hands to the kernels, and what it refuses.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host_call.h"
#include "plugin.h"
#include "recording_kernels.h"

namespace {

using namespace rankwin_test;
namespace cls = hv::classid;

std::vector<std::string> traceLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class PluginCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        tracePath_ = ::testing::TempDir() + std::to_string(getpid()) + "_rankwin_trace_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::remove(tracePath_.c_str());
        setenv("HV_KERNEL_LIBRARY", RECORDING_KERNELS, 1);
        setenv("HV_KERNEL_LOCATOR_TRACE", tracePath_.c_str(), 1);
        load();
        clearRecordedCalls();
    }
    void TearDown() override {
        failKernelsOffThisThread(false);
        unsetenv("RANKWIN_THREADS");
        plugin_.reset();
        unsetenv("HV_KERNEL_LIBRARY");
        unsetenv("HV_KERNEL_LOCATOR_TRACE");
        std::remove(tracePath_.c_str());
    }
    void load() { plugin_ = std::make_unique<hvhost::Plugin>(RANKWIN_PLUGIN); }

    CallResult call(const hv::ArrayPtr& image, const hv::ArrayPtr& window, int outputs = 1) {
        return callPlugin(plugin_->entry(), {image.get(), window.get()}, outputs);
    }

    std::string tracePath_;
    std::unique_ptr<hvhost::Plugin> plugin_;
};

struct Expected {
    const char* kernel;
    std::ptrdiff_t srcOffset;
    int srcStep, dstStep, roiW, roiH, maskW, maskH, ax, ay;
};

void expectKernelCall(const CallResult& result, const hv::ArrayPtr& image, const Expected& e) {
    ASSERT_EQ(result.error, "") << result.message;
    ASSERT_EQ(recordedCallCount(), 1u);
    const RecordedCall c = recordedCall(0);
    EXPECT_STREQ(c.kernel, e.kernel);
    EXPECT_EQ(static_cast<const char*>(c.src) - static_cast<const char*>(image->getData()),
              e.srcOffset);
    EXPECT_EQ(c.srcStep, e.srcStep);
    EXPECT_EQ(c.dst, result.outputs.at(0)->getData());
    EXPECT_EQ(c.dstStep, e.dstStep);
    EXPECT_EQ(c.roiWidth, e.roiW);
    EXPECT_EQ(c.roiHeight, e.roiH);
    EXPECT_EQ(c.maskWidth, e.maskW);
    EXPECT_EQ(c.maskHeight, e.maskH);
    EXPECT_EQ(c.anchorX, e.ax);
    EXPECT_EQ(c.anchorY, e.ay);
    const hvArray& out = *result.outputs[0];
    EXPECT_EQ(out.getClassID(), image->getClassID());
    EXPECT_EQ(out.getNumberOfDimensions(), 2u);
    EXPECT_EQ(out.get_dimensions()[0], static_cast<std::uint64_t>(e.roiW));
    EXPECT_EQ(out.get_dimensions()[1], static_cast<std::uint64_t>(e.roiH));
}

TEST_F(PluginCalls, ThreeByThreeWindowOnFiveByFourForEachClass) {
    const Expected expected[] = {
        {"8u", 6, 5, 3, 3, 2, 3, 3, 1, 1},
        {"32f", 24, 20, 12, 3, 2, 3, 3, 1, 1},
        {"16s", 12, 10, 6, 3, 2, 3, 3, 1, 1},
        {"16u", 12, 10, 6, 3, 2, 3, 3, 1, 1},
    };
    const hvClassID classes[] = {cls::kUint8, cls::kSingle, cls::kInt16, cls::kUint16};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(expected[k].kernel);
        clearRecordedCalls();
        const auto image = makeImage(classes[k], 5, 4);
        expectKernelCall(call(image, makeWindow(3, 3)), image, expected[k]);
    }
}

TEST_F(PluginCalls, EvenAndUnitWindows) {
    const auto image = makeImage(cls::kUint16, 5, 4);
    // [4 2]: anchor (1, 0), output (R - 3) x (C - 1).
    expectKernelCall(call(image, makeWindow(4, 2)), image, {"16u", 2, 10, 4, 2, 3, 4, 2, 1, 0});
    clearRecordedCalls();
    expectKernelCall(call(image, makeWindow(2, 2)), image, {"16u", 0, 10, 8, 4, 3, 2, 2, 0, 0});
    clearRecordedCalls();
    // [1 1]: the destination step equals the source step.
    expectKernelCall(call(image, makeWindow(1, 1)), image, {"16u", 0, 10, 10, 5, 4, 1, 1, 0, 0});
}

TEST_F(PluginCalls, FractionalWindowTruncatesTowardZero) {
    const auto image = makeImage(cls::kUint8, 5, 4);
    expectKernelCall(call(image, makeWindow(3.7, 2.2)), image, {"8u", 1, 5, 3, 3, 3, 3, 2, 1, 0});
}

TEST_F(PluginCalls, OutputCountZeroStillFillsSlotZero) {
    const auto image = makeImage(cls::kSingle, 5, 4);
    const CallResult result = call(image, makeWindow(3, 3), 0);
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.outputs.size(), 1u);
    ASSERT_NE(result.outputs[0], nullptr);
    EXPECT_EQ(result.outputs[0]->get_dimensions()[0], 3u);
}

TEST_F(PluginCalls, WrongInputCountCreatesNothing) {
    const auto image = makeImage(cls::kUint8, 5, 4);
    const auto window = makeWindow(3, 3);
    for (const auto& inputs : {std::vector<const hvArray*>{image.get()},
                               std::vector<const hvArray*>{image.get(), window.get(), window.get()},
                               std::vector<const hvArray*>{}}) {
        const CallResult result = callPlugin(plugin_->entry(), inputs);
        EXPECT_EQ(result.error, "pictura:rankwin:badNumInputs");
        EXPECT_TRUE(result.created.empty());
    }
    EXPECT_EQ(recordedCallCount(), 0u);
}

TEST_F(PluginCalls, UnsupportedClassRaisedAfterTheOutputWasCreated) {
    // Double, int32 and a class id beyond the inline class field.
    for (const hvClassID id : {cls::kDouble, cls::kInt32, cls::kHalf}) {
        const CallResult result = call(makeImage(id, 5, 4), makeWindow(3, 2));
        EXPECT_EQ(result.error, "pictura:rankwin:unsupportedDataType") << id;
        ASSERT_EQ(result.created.size(), 1u);
        EXPECT_EQ(result.created[0].classID, id);
        EXPECT_EQ(result.created[0].dims, (std::vector<std::uint64_t>{3, 3}));
    }
    EXPECT_EQ(recordedCallCount(), 0u);
}

TEST_F(PluginCalls, CallerLimitsAreCheckedBeforeAnythingIsCreated) {
    const auto image = makeImage(cls::kUint8, 5, 4);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::uint64_t cube[3] = {5, 4, 2};
    const hv::ArrayPtr volume = hv::createArray(cls::kUint8, cube);
    const std::uint64_t flat[2] = {5, 4};
    const hv::ArrayPtr complexImage = hv::createArray(cls::kUint8, flat, hvComplex);
    const std::uint64_t pair[2] = {1, 2};
    hv::ArrayPtr complexWindow = hv::createArray(cls::kDouble, pair, hvComplex);
    static_cast<double*>(complexWindow->getData())[0] = 3;
    static_cast<double*>(complexWindow->getData())[1] = 3;

    struct Case {
        const hvArray* image;
        hv::ArrayPtr window;
        const char* error;
    };
    std::vector<Case> cases;
    const auto add = [&](const hvArray* im, hv::ArrayPtr w, const char* e) {
        cases.push_back({im, std::move(w), e});
    };
    for (const auto& w : std::vector<std::pair<double, double>>{
             {0, 1}, {1, 0}, {6, 1}, {1, 5}, {-3, 2}, {0.9, 2}, {1e300, 2}, {-1e300, 2}}) {
        add(image.get(), makeWindow(w.first, w.second), "pictura:rankwin:windowOutOfRange");
    }
    add(image.get(), makeWindow(nan, 3), "pictura:rankwin:nonFiniteWindow");
    add(image.get(), makeWindow(3, inf), "pictura:rankwin:nonFiniteWindow");
    add(image.get(), makeWindow(-inf, 3), "pictura:rankwin:nonFiniteWindow");
    add(image.get(), makeArray<double>(cls::kDouble, 1, 1, {3}),
        "pictura:rankwin:badWindowArgument");
    add(image.get(), makeArray<float>(cls::kSingle, 1, 2, {3, 3}),
        "pictura:rankwin:badWindowArgument");
    add(image.get(), std::move(complexWindow), "pictura:rankwin:badWindowArgument");
    add(volume.get(), makeWindow(3, 3), "pictura:rankwin:badImageArgument");
    add(complexImage.get(), makeWindow(3, 3), "pictura:rankwin:badImageArgument");

    for (const Case& c : cases) {
        const CallResult result = callPlugin(plugin_->entry(), {c.image, c.window.get()});
        EXPECT_EQ(result.error, c.error) << result.message;
        EXPECT_TRUE(result.created.empty()) << c.error;
    }
    EXPECT_EQ(recordedCallCount(), 0u);
}

TEST_F(PluginCalls, KernelsResolvedInOrderOncePerLoad) {
    const std::vector<std::string> once{"ippiFilterMedian_8u_C1R", "ippiFilterMedian_16u_C1R",
                                        "ippiFilterMedian_16s_C1R", "ippiFilterMedian_32f_C1R"};
    EXPECT_EQ(traceLines(tracePath_), once);
    const auto image = makeImage(cls::kInt16, 5, 4);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(call(image, makeWindow(3, 3)).error, "");
    EXPECT_EQ(traceLines(tracePath_), once);

    plugin_.reset();
    load();
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(traceLines(tracePath_), twice);
}

// The calls the kernels got, in the order of their destinations.
std::vector<RecordedCall> callsByDestination() {
    std::vector<RecordedCall> calls;
    for (std::size_t i = 0; i < recordedCallCount(); ++i) calls.push_back(recordedCall(i));
    std::sort(calls.begin(), calls.end(),
              [](const RecordedCall& a, const RecordedCall& b) { return a.dst < b.dst; });
    return calls;
}

TEST_F(PluginCalls, MillionElementImagesGoToTheKernelInOneBandPerThread) {
    // 1000 x 1000 uint16, window [5 3]: region 996 x 998 kernel lines, cut into
    // lines of equal share; each band keeps the steps, mask and anchor.
    setenv("RANKWIN_THREADS", "3", 1);
    const auto image = makeImage(cls::kUint16, 1000, 1000);
    const CallResult result = call(image, makeWindow(5, 3));
    ASSERT_EQ(result.error, "") << result.message;
    const auto* in = static_cast<const char*>(image->getData());
    const auto* out = static_cast<const char*>(result.outputs.at(0)->getData());
    const std::vector<RecordedCall> calls = callsByDestination();
    ASSERT_EQ(calls.size(), 3u);
    const int firstLines[] = {0, 332, 665, 998};
    for (int b = 0; b < 3; ++b) {
        SCOPED_TRACE(b);
        const RecordedCall& c = calls[static_cast<std::size_t>(b)];
        EXPECT_EQ(static_cast<const char*>(c.src) - in, 2 * (2 + 1 * 1000) + firstLines[b] * 2000);
        EXPECT_EQ(static_cast<const char*>(c.dst) - out, firstLines[b] * 1992);
        EXPECT_EQ(
            (std::vector<int>{c.srcStep, c.dstStep, c.roiWidth, c.roiHeight, c.maskWidth,
                              c.maskHeight, c.anchorX, c.anchorY}),
            (std::vector<int>{2000, 1992, 996, firstLines[b + 1] - firstLines[b], 5, 3, 2, 1}));
    }

    // One thread: the one call of a small image.
    setenv("RANKWIN_THREADS", "1", 1);
    clearRecordedCalls();
    expectKernelCall(call(image, makeWindow(5, 3)), image,
                     {"16u", 2 * 1002, 2000, 1992, 996, 998, 5, 3, 2, 1});
    // One element short of a million: one call whatever the setting.
    setenv("RANKWIN_THREADS", "3", 1);
    clearRecordedCalls();
    const auto smaller = makeImage(cls::kUint16, 1000, 999);
    expectKernelCall(call(smaller, makeWindow(5, 3)), smaller,
                     {"16u", 2 * 1002, 2000, 1992, 996, 997, 5, 3, 2, 1});
}

TEST_F(PluginCalls, ImagesOfFewKernelLinesAreCutAlongTheLines) {
    // One long host column pair: a single kernel line, cut into columns.
    setenv("RANKWIN_THREADS", "2", 1);
    const auto image = makeImage(cls::kSingle, 1000000, 2);
    const CallResult result = call(image, makeWindow(3, 2));
    ASSERT_EQ(result.error, "") << result.message;
    const auto* in = static_cast<const char*>(image->getData());
    const auto* out = static_cast<const char*>(result.outputs.at(0)->getData());
    const std::vector<RecordedCall> calls = callsByDestination();
    ASSERT_EQ(calls.size(), 2u);
    for (int b = 0; b < 2; ++b) {
        const RecordedCall& c = calls[static_cast<std::size_t>(b)];
        EXPECT_EQ(static_cast<const char*>(c.src) - in, 4 * (1 + 499999 * b));
        EXPECT_EQ(static_cast<const char*>(c.dst) - out, 4 * 499999 * b);
        EXPECT_EQ(
            (std::vector<int>{c.srcStep, c.dstStep, c.roiWidth, c.roiHeight, c.anchorX, c.anchorY}),
            (std::vector<int>{4000000, 3999992, 499999, 1, 1, 0}));
    }
}

TEST_F(PluginCalls, AKernelFailingOnAWorkerFailsTheCallOnTheCallingThread) {
    // Every band still runs and every thread is joined; the failure then
    // leaves the entry point on the thread that called it, as it would with
    // one thread.
    setenv("RANKWIN_THREADS", "4", 1);
    failKernelsOffThisThread(true);
    const auto image = makeImage(cls::kUint8, 1000, 1000);
    const auto window = makeWindow(3, 3);
    EXPECT_THROW(callPlugin(plugin_->entry(), {image.get(), window.get()}), std::runtime_error);
    EXPECT_EQ(recordedCallCount(), 4u);
}

TEST(PluginExports, OnlyTheEntryPointIsExported) {
    FILE* pipe = popen("nm -D --defined-only '" RANKWIN_PLUGIN "'", "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> symbols;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        symbols.push_back(text.substr(text.find_last_of(' ') + 1));
    }
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(symbols, std::vector<std::string>{"plxFunction\n"});
}

}  // namespace
