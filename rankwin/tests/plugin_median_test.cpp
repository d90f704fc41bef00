// The plug-in over the real kernel library, found beside it: results of
// whole calls against a brute-force median.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "brute_force_median.h"
#include "host_call.h"
#include "plugin.h"

namespace {

using namespace rankwin_test;
namespace cls = hv::classid;

template <typename T>
std::vector<T> randomValues(std::size_t count, std::mt19937& random) {
    std::vector<T> values(count);
    if constexpr (std::is_floating_point_v<T>) {
        std::normal_distribution<float> d(0.0f, 100.0f);
        for (T& v : values) v = d(random);
    } else {
        std::uniform_int_distribution<long> d(std::numeric_limits<T>::min(),
                                              std::numeric_limits<T>::max());
        for (T& v : values) v = static_cast<T>(d(random));
    }
    return values;
}

class PluginMedian : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // No override: the plug-in must find libmediankernels.so beside itself.
        unsetenv("HV_KERNEL_LIBRARY");
        plugin_ = new hvhost::Plugin(RANKWIN_PLUGIN);
    }
    static void TearDownTestSuite() {
        delete plugin_;
        plugin_ = nullptr;
    }

    template <typename T>
    void checkAgainstBruteForce(hvClassID id, std::uint64_t rows, std::uint64_t columns, double m,
                                double n) {
        SCOPED_TRACE(::testing::Message() << "class " << id << ", " << rows << "x" << columns
                                          << ", window [" << m << " " << n << "]");
        const auto values = randomValues<T>(rows * columns, random_);
        const auto image = makeArray<T>(id, rows, columns, values);
        const auto window = makeWindow(m, n);
        const CallResult result = callPlugin(plugin_->entry(), {image.get(), window.get()});
        ASSERT_EQ(result.error, "") << result.message;
        const hvArray& out = *result.outputs.at(0);
        const auto mm = static_cast<std::size_t>(m), nn = static_cast<std::size_t>(n);
        ASSERT_EQ(out.get_dimensions()[0], rows - mm + 1);
        ASSERT_EQ(out.get_dimensions()[1], columns - nn + 1);
        const auto* data = static_cast<const T*>(out.getData());
        const std::vector<T> got(data, data + out.getNumberOfElements());
        EXPECT_EQ(got, testing_median::bruteForceMedian(values, rows, columns, mm, nn));
        if (mm == 1 && nn == 1) {
            EXPECT_EQ(got, values);
        }
    }

    template <typename T>
    void checkWindows(hvClassID id) {
        // Odd, even, rectangular, unit and whole-image windows, on odd and even shapes.
        const double windows[][2] = {{3, 3}, {5, 5}, {2, 2}, {4, 2}, {1, 5}, {3, 1}, {1, 1}};
        for (const auto& w : windows) checkAgainstBruteForce<T>(id, 11, 8, w[0], w[1]);
        checkAgainstBruteForce<T>(id, 7, 5, 7, 5);
        checkAgainstBruteForce<T>(id, 6, 9, 6, 9);
        checkAgainstBruteForce<T>(id, 1, 1, 1, 1);
    }

    static hvhost::Plugin* plugin_;
    std::mt19937 random_{2026};
};
hvhost::Plugin* PluginMedian::plugin_ = nullptr;

TEST_F(PluginMedian, Uint8) { checkWindows<std::uint8_t>(cls::kUint8); }
TEST_F(PluginMedian, Uint16) { checkWindows<std::uint16_t>(cls::kUint16); }
TEST_F(PluginMedian, Int16) { checkWindows<std::int16_t>(cls::kInt16); }
TEST_F(PluginMedian, Single) { checkWindows<float>(cls::kSingle); }

// Whole-call results with the given RANKWIN_THREADS.
std::vector<unsigned char> filteredBytes(hvExtensionEntry entry, const hv::ArrayPtr& image,
                                         double m, double n, const char* threads) {
    setenv("RANKWIN_THREADS", threads, 1);
    const auto window = makeWindow(m, n);
    const CallResult result = callPlugin(entry, {image.get(), window.get()});
    unsetenv("RANKWIN_THREADS");
    EXPECT_EQ(result.error, "") << result.message;
    if (result.outputs.empty()) return {};
    const hvArray& out = *result.outputs[0];
    const auto* data = static_cast<const unsigned char*>(out.getData());
    return {data, data + out.getNumberOfElements() * out.getElementSize()};
}

template <typename T>
void expectThreadsChangeNoBit(hvExtensionEntry entry, hvClassID id, std::mt19937& random) {
    // A million elements or more: filtered in bands. Odd sizes, so that bands
    // differ in size; floats with NaN, infinities and both zeros.
    const std::uint64_t rows = 1031, columns = 977;
    auto values = randomValues<T>(rows * columns, random);
    if constexpr (std::is_floating_point_v<T>) {
        const T specials[] = {std::numeric_limits<T>::quiet_NaN(),
                              -std::numeric_limits<T>::quiet_NaN(),
                              std::numeric_limits<T>::infinity(),
                              -std::numeric_limits<T>::infinity(),
                              T(0),
                              -T(0)};
        for (std::size_t i = 0; i < values.size(); i += 7) values[i] = specials[i % 6];
    }
    const auto image = makeArray<T>(id, rows, columns, values);
    const double windows[][2] = {{3, 3}, {5, 5}, {4, 2}, {1, 9}, {15, 1}, {11, 11}};
    for (const auto& w : windows) {
        SCOPED_TRACE(::testing::Message()
                     << "class " << id << ", window [" << w[0] << " " << w[1] << "]");
        const auto one = filteredBytes(entry, image, w[0], w[1], "1");
        ASSERT_FALSE(one.empty());
        for (const char* threads : {"2", "3", "8"}) {
            const auto many = filteredBytes(entry, image, w[0], w[1], threads);
            ASSERT_EQ(many.size(), one.size());
            const auto differ = std::mismatch(many.begin(), many.end(), one.begin());
            EXPECT_TRUE(differ.first == many.end())
                << threads << " threads: first differing byte " << differ.first - many.begin();
        }
    }
}

TEST_F(PluginMedian, ThreadsChangeNoBitUint8) {
    expectThreadsChangeNoBit<std::uint8_t>(plugin_->entry(), cls::kUint8, random_);
}
TEST_F(PluginMedian, ThreadsChangeNoBitUint16) {
    expectThreadsChangeNoBit<std::uint16_t>(plugin_->entry(), cls::kUint16, random_);
}
TEST_F(PluginMedian, ThreadsChangeNoBitInt16) {
    expectThreadsChangeNoBit<std::int16_t>(plugin_->entry(), cls::kInt16, random_);
}
TEST_F(PluginMedian, ThreadsChangeNoBitSingle) {
    expectThreadsChangeNoBit<float>(plugin_->entry(), cls::kSingle, random_);
}

TEST_F(PluginMedian, WindowRowsRunDownHostColumns) {
    // 3 x 2 image [1 4; 2 5; 9 6]: a [3 1] window takes the median of each
    // column, a [1 2] window of each row (upper middle of two).
    const auto image = makeArray<std::uint8_t>(cls::kUint8, 3, 2, {1, 2, 9, 4, 5, 6});
    const auto columnWindow = makeWindow(3, 1);
    const auto rowWindow = makeWindow(1, 2);
    const CallResult byColumn = callPlugin(plugin_->entry(), {image.get(), columnWindow.get()});
    const CallResult byRow = callPlugin(plugin_->entry(), {image.get(), rowWindow.get()});
    ASSERT_EQ(byColumn.error + byRow.error, "");
    const auto* c = static_cast<const std::uint8_t*>(byColumn.outputs[0]->getData());
    const auto* r = static_cast<const std::uint8_t*>(byRow.outputs[0]->getData());
    EXPECT_EQ((std::vector<int>{c[0], c[1]}), (std::vector<int>{2, 5}));
    EXPECT_EQ((std::vector<int>{r[0], r[1], r[2]}), (std::vector<int>{4, 5, 9}));
}

}  // namespace
