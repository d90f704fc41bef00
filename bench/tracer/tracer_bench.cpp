// Tracer benchmark: rings from 256 x 256 up, the program end to end against a plain
// reference tracer (explicit graph, binary-heap shortest paths run to completion, a full
// predecessor copy per record), checking that both write identical images.
//
//   tracer_bench [--sizes WxH,WxH,...] [--reference-up-to PIXELS] [--repeat N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver.h"
#include "edge_cost.h"
#include "image_input.h"
#include "plain_search.h"
#include "render_output.h"
#include "ring_generator.h"

namespace {

using namespace ringtrace;

struct measured {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
};

// Runs `work` in a child process (in `dir`) and measures its wall time and peak memory.
template <class F>
measured inChild(const std::string& dir, F work) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        _exit(work());
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    measured m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakKb = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m;
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The plain tracer: same input and output code, everything in between done the simple way.
int referenceTrace() {
    inputImages in;
    std::string why;
    const inputStatus status = readInputs("outx.tif", "outx1.tif", in, why);
    if (status != inputStatus::read) return 3;
    const int32_t W = in.width, H = in.height;
    pixelGrid grid;  // only for its sizes and the walk's arithmetic
    buildGrid(grid, W, H);
    testing::explicitGrid g(W, H);
    for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) {
        const int32_t s = g.A[g.G.source(e)], t = g.A[g.G.target(e)];
        if (s >= W * H || t >= W * H) continue;
        g.cost[e] = gridEdgeCost(in.primaryRaster[rasterIndex(s / H, s % H, W, H)],
                                 in.primaryRaster[rasterIndex(t / H, t % H, W, H)],
                                 in.secondaryRaster[rasterIndex(s / H, s % H, W, H)],
                                 in.secondaryRaster[rasterIndex(t / H, t % H, W, H)], s / H, s % H, t / H, t % H, W, H);
    }
    // The plain search prices from the computed graph's cost table; hand it these costs.
    for (edge e = g.G.first_edge(); e != g.G.stop_edge(); e = g.G.next_edge(e)) grid.cost[e] = g.cost[e];
    const testing::plainOutcome r = testing::plainSearch(grid, in.primaryRaster, in.secondaryRaster, 10 * int64_t{H} + 100);
    std::vector<float> marks(static_cast<size_t>(W) * H, BACKGROUND_MARK);
    if (r.ended && r.searchOutcome == SEARCH_ACCEPTED) markContour(grid, r.pred, marks.data());
    std::vector<uint8_t> bytes(marks.size());
    convertMarks(marks.data(), bytes.data(), bytes.size());
    TIFF* out = TIFFOpen("reference.tif", "w");
    if (out == nullptr) return 2;
    const bool ok = writeMirrored(out, bytes.data(), W, H);
    TIFFClose(out);
    std::FILE* f = std::fopen("reference.txt", "w");
    if (f != nullptr) {
        std::fprintf(f, "%d %d\n", r.ended ? 1 : 0, r.searchOutcome);
        std::fclose(f);
    }
    return ok ? 0 : 2;
}

// A fresh directory under the system temp directory, removed with its contents.
class scratchDir {
public:
    scratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tracer-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a scratch directory");
        path_ = pattern;
    }
    ~scratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::vector<std::pair<int, int>> parseSizes(const std::string& text) {
    std::vector<std::pair<int, int>> sizes;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(pos, comma - pos);
        const size_t x = item.find('x');
        sizes.emplace_back(std::atoi(item.substr(0, x).c_str()), std::atoi(item.substr(x + 1).c_str()));
        pos = comma + 1;
    }
    return sizes;
}

}  // namespace

int main(int argc, char** argv) {
    std::string sizesText = "256x256,512x512,720x400,1024x1024,2048x2048,4096x4096";
    long long referenceUpTo = 2048LL * 2048;
    int repeat = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--sizes") sizesText = argv[i + 1];
        if (a == "--reference-up-to") referenceUpTo = std::atoll(argv[i + 1]);
        if (a == "--repeat") repeat = std::max(1, std::atoi(argv[i + 1]));
    }
    std::printf("%-11s %9s %9s %7s %6s %6s | %9s %9s %8s %9s\n", "size", "time ms", "peak MB", "B/px", "iters",
                "runs", "plain ms", "plain MB", "speed-up", "identical");
    for (const auto& [W, H] : parseSizes(sizesText)) {
        scratchDir dir;
        ringgen::RingParams p;
        p.width = W;
        p.height = H;
        std::string error;
        if (!ringgen::writeRingPair(dir.path(), p, nullptr, &error)) {
            std::fprintf(stderr, "cannot make a %dx%d ring: %s\n", W, H, error.c_str());
            return 1;
        }
        std::vector<double> times;
        long peak = 0;
        for (int k = 0; k < repeat; ++k) {
            const measured m = inChild(dir.path(), [] {
                execl(RINGTRACE_BIN, "ringtrace", static_cast<char*>(nullptr));
                return 127;
            });
            if (m.status != 0) {
                std::fprintf(stderr, "ringtrace failed on %dx%d (status %d)\n", W, H, m.status);
                return 1;
            }
            times.push_back(m.seconds);
            peak = std::max(peak, m.peakKb);
        }
        std::sort(times.begin(), times.end());
        const double fast = times[times.size() / 2];

        // The search's own counts, from one run in this process.
        tracerReport report;
        const std::string counted = dir.file("counted.tif");
        const std::string primary = dir.file("outx.tif"), secondary = dir.file("outx1.tif");
        runTracer(tracerPaths{primary.c_str(), secondary.c_str(), counted.c_str()}, &report);

        std::string plainMs = "-", plainMb = "-", speedUp = "-", identical = "-";
        if (static_cast<long long>(W) * H <= referenceUpTo) {
            const measured ref = inChild(dir.path(), referenceTrace);
            std::ifstream summary(dir.file("reference.txt"));
            int ended = 0, outcome = 0;
            summary >> ended >> outcome;
            plainMs = std::to_string(static_cast<long>(ref.seconds * 1000));
            plainMb = std::to_string(ref.peakKb / 1024);
            char ratio[32];
            std::snprintf(ratio, sizeof ratio, "%.1fx", ref.seconds / fast);
            speedUp = ratio;
            identical = ref.status == 0 && ended == 1 && bytesOf(dir.file("reference.tif")) == bytesOf(dir.file("new.tif"))
                            ? "yes"
                            : "NO";
        }
        std::printf("%5dx%-5d %9.1f %9.1f %7.1f %6lld %6lld | %9s %9s %8s %9s\n", W, H, fast * 1000, peak / 1024.0,
                    peak * 1024.0 / (static_cast<double>(W) * H), static_cast<long long>(report.search.iterations),
                    static_cast<long long>(report.search.shortestPathRuns), plainMs.c_str(), plainMb.c_str(),
                    speedUp.c_str(), identical.c_str());
        std::fflush(stdout);
        if (identical == "NO") return 1;
    }
    return 0;
}
