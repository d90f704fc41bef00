// Time per output pixel of the median kernels and of OpenCV's medianBlur on
// the same noisy picture, single-threaded, for every element type and a range
// of square windows. OpenCV filters the whole picture with replicated
// borders, the kernels its valid region; counting output pixels makes the two
// comparable. OpenCV accepts 16- and 32-bit data only for windows 3 and 5.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "mediankernels/median_kernels.h"

namespace {

constexpr int kRows = 512, kColumns = 768;

template <typename T>
struct Type;
template <>
struct Type<uint8_t> {
    static constexpr int cv = CV_8U;
    static constexpr auto kernel = ippiFilterMedian_8u_C1R;
    static constexpr double scale = 255.0;
};
template <>
struct Type<uint16_t> {
    static constexpr int cv = CV_16U;
    static constexpr auto kernel = ippiFilterMedian_16u_C1R;
    static constexpr double scale = 65535.0;
};
template <>
struct Type<int16_t> {
    static constexpr int cv = CV_16S;
    static constexpr auto kernel = ippiFilterMedian_16s_C1R;
    static constexpr double scale = 65535.0;
};
template <>
struct Type<float> {
    static constexpr int cv = CV_32F;
    static constexpr auto kernel = ippiFilterMedian_32f_C1R;
    static constexpr double scale = 1.0;
};

// A smooth picture with salt-and-pepper and Gaussian noise, the filter's usual input.
template <typename T>
cv::Mat picture() {
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 0.05);
    cv::Mat image(kRows, kColumns, Type<T>::cv);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            double v = 0.5 + 0.3 * std::sin(r * 0.02) * std::cos(c * 0.015) + noise(random);
            if (random() % 20 == 0) v = random() % 2;
            v = std::fmin(1.0, std::fmax(0.0, v)) * Type<T>::scale;
            if constexpr (std::is_same_v<T, int16_t>) v -= 32768.0;
            image.at<T>(r, c) = static_cast<T>(v);
        }
    }
    return image;
}

template <typename T>
void ours(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    const cv::Mat in = picture<T>();
    // OpenCV rows are the kernel's lines.
    const int width = kColumns - k + 1, height = kRows - k + 1;
    std::vector<T> out(static_cast<size_t>(width) * height);
    const int a = (k - 1) / 2;
    for (auto _ : state) {
        Type<T>::kernel(in.ptr<T>(a) + a, static_cast<int>(in.step), out.data(),
                        width * static_cast<int>(sizeof(T)), {width, height}, {k, k}, {a, a});
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

template <typename T>
void opencv(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    cv::setNumThreads(1);
    const cv::Mat in = picture<T>();
    cv::Mat out;
    for (auto _ : state) {
        cv::medianBlur(in, out, k);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(state.iterations() * kRows * kColumns);
}

void windows(benchmark::internal::Benchmark* b) {
    for (int k : {3, 5, 7, 9, 11, 15, 25}) b->Arg(k);
}
void opencvWindows(benchmark::internal::Benchmark* b, bool bytes) {
    for (int k : {3, 5, 7, 9, 11, 15, 25}) {
        if (bytes || k <= 5) b->Arg(k);
    }
}

BENCHMARK(ours<uint8_t>)->Name("ours/8u")->Apply(windows);
BENCHMARK(opencv<uint8_t>)->Name("opencv/8u")->Apply([](auto* b) { opencvWindows(b, true); });
BENCHMARK(ours<uint16_t>)->Name("ours/16u")->Apply(windows);
BENCHMARK(opencv<uint16_t>)->Name("opencv/16u")->Apply([](auto* b) { opencvWindows(b, false); });
BENCHMARK(ours<int16_t>)->Name("ours/16s")->Apply(windows);
BENCHMARK(opencv<int16_t>)->Name("opencv/16s")->Apply([](auto* b) { opencvWindows(b, false); });
BENCHMARK(ours<float>)->Name("ours/32f")->Apply(windows);
BENCHMARK(opencv<float>)->Name("opencv/32f")->Apply([](auto* b) { opencvWindows(b, false); });

}  // namespace

BENCHMARK_MAIN();
