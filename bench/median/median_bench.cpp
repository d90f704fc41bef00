// Time per output pixel of the median kernels and of OpenCV's medianBlur on
// the same pictures, single-threaded, for every element type: a noisy smooth
// picture that the caches hold (square windows, rectangular and even ones),
// and a 2048 x 2048 array of uniformly random values, larger than the caches
// and the worst case for the data-dependent methods (square windows). OpenCV
// filters the whole picture with replicated borders, the kernels its valid
// region; counting output pixels makes the two comparable. OpenCV accepts 16-
// and 32-bit data only for windows 3 and 5, and only odd squares at all.
//
// Also timed: a copy of the picture (the memory floor), and whole plug-in
// calls through the host stand-in next to the output allocation they include.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "processor_model.h"
#include "hv/host.h"
#include "mediankernels/median_kernels.h"
#include "plugin.h"

namespace {

// The pictures, by the index that benchmark arguments carry.
enum Picture { kSmooth = 0, kRandom = 1 };
constexpr int kRows = 512, kColumns = 768;
constexpr int kRandomSide = 2048;

template <typename T>
struct Type;
template <>
struct Type<uint8_t> {
    static constexpr int cv = CV_8U;
    static constexpr auto kernel = ippiFilterMedian_8u_C1R;
    static constexpr double scale = 255.0;
    static constexpr hvClassID classID = hv::classid::kUint8;
};
template <>
struct Type<uint16_t> {
    static constexpr int cv = CV_16U;
    static constexpr auto kernel = ippiFilterMedian_16u_C1R;
    static constexpr double scale = 65535.0;
    static constexpr hvClassID classID = hv::classid::kUint16;
};
template <>
struct Type<int16_t> {
    static constexpr int cv = CV_16S;
    static constexpr auto kernel = ippiFilterMedian_16s_C1R;
    static constexpr double scale = 65535.0;
    static constexpr hvClassID classID = hv::classid::kInt16;
};
template <>
struct Type<float> {
    static constexpr int cv = CV_32F;
    static constexpr auto kernel = ippiFilterMedian_32f_C1R;
    static constexpr double scale = 1.0;
    static constexpr hvClassID classID = hv::classid::kSingle;
};

// A smooth picture with salt-and-pepper and Gaussian noise, the filter's usual input.
template <typename T>
cv::Mat smoothPicture() {
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

// Uniformly random values over the whole range of the type (floats in [0, 1)).
template <typename T>
cv::Mat randomPicture() {
    std::mt19937 random(6);
    cv::Mat image(kRandomSide, kRandomSide, Type<T>::cv);
    for (int r = 0; r < kRandomSide; ++r) {
        for (int c = 0; c < kRandomSide; ++c) {
            if constexpr (std::is_same_v<T, float>) {
                image.at<T>(r, c) = std::uniform_real_distribution<float>(0.0f, 1.0f)(random);
            } else {
                image.at<T>(r, c) = static_cast<T>(random());
            }
        }
    }
    return image;
}

// Each picture is made once per type and shared by every benchmark of it.
template <typename T>
const cv::Mat& picture(int which = kSmooth) {
    static const cv::Mat smooth = smoothPicture<T>();
    static const cv::Mat random = randomPicture<T>();
    return which == kRandom ? random : smooth;
}

// The window's first extent runs along the picture's lines (OpenCV rows);
// the third argument is the picture.
template <typename T>
void ours(benchmark::State& state) {
    const int along = static_cast<int>(state.range(0)), across = static_cast<int>(state.range(1));
    const cv::Mat& in = picture<T>(static_cast<int>(state.range(2)));
    const int width = in.cols - along + 1, height = in.rows - across + 1;
    std::vector<T> out(static_cast<size_t>(width) * height);
    const int ax = (along - 1) / 2, ay = (across - 1) / 2;
    for (auto _ : state) {
        Type<T>::kernel(in.ptr<T>(ay) + ax, static_cast<int>(in.step), out.data(),
                        width * static_cast<int>(sizeof(T)), {width, height}, {along, across},
                        {ax, ay});
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

template <typename T>
void opencv(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    cv::setNumThreads(1);
    const cv::Mat& in = picture<T>(static_cast<int>(state.range(1)));
    cv::Mat out;
    for (auto _ : state) {
        cv::medianBlur(in, out, k);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(state.iterations() * in.rows * in.cols);
}

// The memory floor: the picture copied to a buffer of its size.
template <typename T>
void copy(benchmark::State& state) {
    const cv::Mat& in = picture<T>(static_cast<int>(state.range(0)));
    std::vector<T> out(in.total());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data, out.size() * sizeof(T));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.total()));
}

// A whole plug-in call as the host makes it: the host's arrays are
// column-major, so a picture column is one of the kernel's lines.
const hvhost::Plugin& plugin() {
    static const hvhost::Plugin loaded(RANKWIN_PLUGIN);
    return loaded;
}

template <typename T>
hv::ArrayPtr hostPicture() {
    const cv::Mat& in = picture<T>();
    const std::uint64_t dims[2] = {kColumns, kRows};
    hv::ArrayPtr array = hv::createArray(Type<T>::classID, dims);
    std::memcpy(array->getData(), in.data, sizeof(T) * kRows * kColumns);
    return array;
}

template <typename T>
void pluginCall(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    const hv::ArrayPtr image = hostPicture<T>();
    const std::uint64_t windowDims[2] = {1, 2};
    const hv::ArrayPtr window = hv::createArray(hv::classid::kDouble, windowDims);
    static_cast<double*>(window->getData())[0] = k;
    static_cast<double*>(window->getData())[1] = k;
    const hvArray* inputs[2] = {image.get(), window.get()};
    for (auto _ : state) {
        auto outputs = hv::callExtension(plugin().entry(), 1, inputs);
        benchmark::DoNotOptimize(outputs[0]->getData());
    }
    state.SetItemsProcessed(state.iterations() * (kRows - k + 1) * (kColumns - k + 1));
}

// What the plug-in call must include besides the kernel: the output array,
// created and written once (fresh memory costs its page faults on first write).
template <typename T>
void outputAllocation(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    const std::uint64_t dims[2] = {static_cast<std::uint64_t>(kColumns - k + 1),
                                   static_cast<std::uint64_t>(kRows - k + 1)};
    for (auto _ : state) {
        hv::ArrayPtr out = hv::createArray(Type<T>::classID, dims);
        std::memset(out->getData(), 1, sizeof(T) * dims[0] * dims[1]);
        benchmark::DoNotOptimize(out->getData());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * (kRows - k + 1) * (kColumns - k + 1));
}

constexpr int kSquares[] = {3, 5, 7, 9, 11, 15, 25, 31};
// Rectangular and even windows, each next to the square of about its size.
// The last two run the largest compiled-in networks (49 and 81 elements).
constexpr int kShapes[][2] = {{3, 7}, {7, 3}, {4, 4}, {2, 6},  {1, 9},
                              {9, 1}, {1, 25}, {25, 1}, {1, 49}, {3, 27}};
constexpr int kPluginWindows[] = {3, 9, 25};

// Besides the median of the repetitions, the fastest: this machine is shared,
// and a slow spell can still reach the median of one row. The report reads
// the items-per-second rate, whose best is the largest.
void fastest(benchmark::internal::Benchmark* b) {
    b->ComputeStatistics("best", [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    });
}

void windows(benchmark::internal::Benchmark* b) {
    fastest(b);
    for (int k : kSquares) b->Args({k, k, kSmooth});
    for (const auto& shape : kShapes) b->Args({shape[0], shape[1], kSmooth});
    for (int k : kSquares) b->Args({k, k, kRandom});
}
void opencvWindows(benchmark::internal::Benchmark* b, bool bytes) {
    fastest(b);
    for (int p : {kSmooth, kRandom}) {
        for (int k : kSquares) {
            if (bytes || k <= 5) b->Args({k, p});
        }
    }
}
void copies(benchmark::internal::Benchmark* b) {
    fastest(b);
    b->Arg(kSmooth)->Arg(kRandom);
}
void pluginWindows(benchmark::internal::Benchmark* b) {
    fastest(b);
    for (int k : kPluginWindows) b->Arg(k);
}

#define MK_BENCH_TYPE(T, name, bytes)                                                       \
    BENCHMARK(ours<T>)->Name("ours/" name)->Apply(windows);                                 \
    BENCHMARK(opencv<T>)->Name("opencv/" name)->Apply([](auto* b) {                         \
        opencvWindows(b, bytes);                                                            \
    });                                                                                     \
    BENCHMARK(copy<T>)->Name("copy/" name)->Apply(copies);                                  \
    BENCHMARK(pluginCall<T>)->Name("plugin/" name)->Apply(pluginWindows);                   \
    BENCHMARK(outputAllocation<T>)->Name("allocation/" name)->Apply(pluginWindows);
MK_BENCH_TYPE(uint8_t, "8u", true)
MK_BENCH_TYPE(uint16_t, "16u", false)
MK_BENCH_TYPE(int16_t, "16s", false)
MK_BENCH_TYPE(float, "32f", false)
#undef MK_BENCH_TYPE

}  // namespace

int main(int argc, char** argv) {
    benchmark::AddCustomContext("processor", bench::processorModel());
    // The kernels take the widest set the processor runs unless capped.
    const char* cap = std::getenv("MEDIAN_KERNELS_ISA");
    benchmark::AddCustomContext("instruction sets",
                                cap != nullptr ? std::string("MEDIAN_KERNELS_ISA=") + cap : "widest");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
