// Whole plug-in calls on every core against one thread and against OpenCV's
// medianBlur with its default threads, on a 2048 x 2048 array of uniformly
// random values of each type: larger than the caches, and the worst case for
// methods whose work depends on the data. Time per output pixel; the plug-in
// filters the valid region, OpenCV the whole picture with replicated borders.
// OpenCV accepts 16- and 32-bit data only for windows 3 and 5.
//
// RANKWIN_THREADS is set around each plug-in benchmark: "1", or unset for
// every processor this process may run on (printed as "threads").

#include <benchmark/benchmark.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "processor_model.h"
#include "hv/host.h"
#include "plugin.h"

namespace {

constexpr int kSide = 2048;

template <typename T>
struct Type;
template <>
struct Type<uint8_t> {
    static constexpr int cv = CV_8U;
    static constexpr hvClassID classID = hv::classid::kUint8;
};
template <>
struct Type<uint16_t> {
    static constexpr int cv = CV_16U;
    static constexpr hvClassID classID = hv::classid::kUint16;
};
template <>
struct Type<int16_t> {
    static constexpr int cv = CV_16S;
    static constexpr hvClassID classID = hv::classid::kInt16;
};
template <>
struct Type<float> {
    static constexpr int cv = CV_32F;
    static constexpr hvClassID classID = hv::classid::kSingle;
};

// The same values for the plug-in (a host array) and for OpenCV (a Mat over
// the array's memory: a host column is a picture line for both).
template <typename T>
const hv::ArrayPtr& randomArray() {
    static const hv::ArrayPtr array = [] {
        const std::uint64_t dims[2] = {kSide, kSide};
        hv::ArrayPtr a = hv::createArray(Type<T>::classID, dims);
        std::mt19937 random(14);
        T* data = static_cast<T*>(a->getData());
        if constexpr (std::is_floating_point_v<T>) {
            std::uniform_real_distribution<T> d(0, 1);
            for (std::size_t i = 0; i < std::size_t{kSide} * kSide; ++i) data[i] = d(random);
        } else {
            std::uniform_int_distribution<int> d(std::numeric_limits<T>::min(),
                                                 std::numeric_limits<T>::max());
            for (std::size_t i = 0; i < std::size_t{kSide} * kSide; ++i)
                data[i] = static_cast<T>(d(random));
        }
        return a;
    }();
    return array;
}

// Processor time of every thread of this process so far.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

const hvhost::Plugin& plugin() {
    static const hvhost::Plugin loaded(RANKWIN_PLUGIN);
    return loaded;
}

// range(0): the window side; range(1): 1 for one thread, 0 for all of them.
template <typename T>
void pluginCall(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    if (state.range(1) == 1) {
        setenv("RANKWIN_THREADS", "1", 1);
    } else {
        unsetenv("RANKWIN_THREADS");
    }
    const std::uint64_t windowDims[2] = {1, 2};
    const hv::ArrayPtr window = hv::createArray(hv::classid::kDouble, windowDims);
    static_cast<double*>(window->getData())[0] = k;
    static_cast<double*>(window->getData())[1] = k;
    const hvArray* inputs[2] = {randomArray<T>().get(), window.get()};
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        auto outputs = hv::callExtension(plugin().entry(), 1, inputs);
        benchmark::DoNotOptimize(outputs[0]->getData());
    }
    const double cpu = processCpuSeconds() - cpuBefore;
    unsetenv("RANKWIN_THREADS");
    const auto pixels = static_cast<double>(state.iterations()) * (kSide - k + 1) * (kSide - k + 1);
    state.SetItemsProcessed(static_cast<std::int64_t>(pixels));
    // The work of all threads together: unlike the wall time, it does not grow
    // while a thread waits for a processor that another program holds.
    state.counters["cpu_ns_per_px"] = cpu * 1e9 / pixels;
}

template <typename T>
void opencv(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    cv::setNumThreads(-1);  // OpenCV's default
    const cv::Mat in(kSide, kSide, Type<T>::cv, randomArray<T>()->getData());
    cv::Mat out;
    for (auto _ : state) {
        cv::medianBlur(in, out, k);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{kSide} * kSide);
}

constexpr int kWindows[] = {3, 5, 7, 9, 15, 31};

void fastest(benchmark::internal::Benchmark* b) {
    b->ComputeStatistics(
        "best", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
    b->Unit(benchmark::kMillisecond);
    // Wall time: the calling thread's processor time leaves out the others'.
    b->UseRealTime();
}
void pluginWindows(benchmark::internal::Benchmark* b) {
    fastest(b);
    for (int k : kWindows) {
        b->Args({k, 1});
        b->Args({k, 0});
    }
}
void opencvWindows(benchmark::internal::Benchmark* b, bool bytes) {
    fastest(b);
    for (int k : kWindows) {
        if (bytes || k <= 5) b->Arg(k);
    }
}

#define MK_BENCH_TYPE(T, name, bytes)                                     \
    BENCHMARK(pluginCall<T>)->Name("plugin/" name)->Apply(pluginWindows); \
    BENCHMARK(opencv<T>)->Name("opencv/" name)->Apply([](auto* b) { opencvWindows(b, bytes); });
MK_BENCH_TYPE(uint8_t, "8u", true)
MK_BENCH_TYPE(uint16_t, "16u", false)
MK_BENCH_TYPE(int16_t, "16s", false)
MK_BENCH_TYPE(float, "32f", false)
#undef MK_BENCH_TYPE

int processors() {
    cpu_set_t set;
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::AddCustomContext("processor", bench::processorModel());
    benchmark::AddCustomContext("threads", std::to_string(processors()));
    benchmark::AddCustomContext("opencv_threads", std::to_string(cv::getNumThreads()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
