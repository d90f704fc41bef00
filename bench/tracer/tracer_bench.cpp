// Tracer benchmark: generated rings from 256 x 256 up to the 2^25-pixel limit, of two kinds:
// closed rings, which the search accepts in its first iteration, and rings whose ridge
// leaves a few rows away from where it enters (a spiral turn), which take the search eight
// iterations or more. For each, the program end to end (a separate process: wall time, CPU
// time, peak resident memory), the search's own counts, and two peers in the same run:
//   - the plain reference search (explicit graph built edge by edge, a full binary-heap
//     shortest-path run per evaluation, nothing reused), whose "new.tif" must be
//     byte-identical (run where it finishes within a minute);
//   - the same search with one Boost.Graph dijkstra_shortest_paths per evaluation over a
//     compressed-sparse-row graph of the same edges, with our own input, pricing and output
//     code: the speed-up over it is ours end to end. Its weights are cost * 2^27 + 1 and a
//     visitor keeps each node's earliest-created tight edge, so it follows the same
//     tie-break and its image must be identical too. It runs twice: plain calls that run to
//     completion, and calls whose visitor stops them once the sink is settled.
//
//   tracer_bench [--sizes WxH,...] [--kinds one,multi] [--repeat N]
//                [--plain-up-to PIXELS] [--boost-up-to PIXELS] [--against PROGRAM]
//
// --against runs another build of the program (an earlier version, say) on every ring too,
// alternating with this build run by run so that both see the same machine, and reports its
// figures beside ours, the ratios and whether its "new.tif" is byte-identical.
#include <signal.h>
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
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef RT_HAVE_BOOST_GRAPH
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths.hpp>
#endif

#include "processor_model.h"
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
    double cpuSeconds = 0;
    long peakKb = 0;
    int status = -1;
    bool timedOut = false;
};

// Runs `work` in a child process (in `dir`) and measures its wall time, CPU time and peak
// memory; a child still running after `timeoutSeconds` is killed.
template <class F>
measured inChild(const std::string& dir, F work, double timeoutSeconds = 0) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        _exit(work());
    }
    measured m;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, timeoutSeconds > 0 ? WNOHANG : 0, &usage);
        if (done == pid) break;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed > timeoutSeconds) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            m.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    m.peakKb = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m;
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes the marks of an accepted path (or none) as `name`, through the program's own code.
int writeResult(const pixelGrid& grid, const testing::plainOutcome& r, const char* name) {
    const int32_t W = grid.width, H = grid.height;
    std::vector<float> marks(static_cast<size_t>(W) * H, BACKGROUND_MARK);
    if (r.ended && r.searchOutcome == SEARCH_ACCEPTED) markContour(grid, r.pred, marks.data());
    std::vector<uint8_t> bytes(marks.size());
    convertMarks(marks.data(), bytes.data(), bytes.size());
    TIFF* out = TIFFOpen(name, "w");
    if (out == nullptr) return 2;
    const bool ok = writeMirrored(out, bytes.data(), W, H);
    TIFFClose(out);
    return ok && r.ended ? 0 : 2;
}

// The plain tracer: same input and output code, everything in between done the simple way.
int referenceTrace() {
    inputImages in;
    std::string why;
    if (readInputs("outx.tif", "outx1.tif", in, why) != inputStatus::read) return 3;
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
    return writeResult(grid, r, "reference.tif");
}

#ifdef RT_HAVE_BOOST_GRAPH
// The same search with one Boost.Graph Dijkstra per evaluation.
int boostTrace(bool stopAtSink) {
    inputImages in;
    std::string why;
    if (readInputs("outx.tif", "outx1.tif", in, why) != inputStatus::read) return 3;
    const int32_t W = in.width, H = in.height;
    pixelGrid grid;
    buildGrid(grid, W, H);
    priceGridEdges(grid, in.primaryRaster, in.secondaryRaster);
    const ringgraph::lattice& L = grid.G;

    using csrGraph = boost::compressed_sparse_row_graph<boost::directedS, boost::no_property, int32_t>;
    const auto E = static_cast<size_t>(L.number_of_edges());
    const auto n = static_cast<size_t>(L.number_of_nodes());
    std::vector<std::pair<int32_t, int32_t>> ends(E);
    std::vector<int32_t> ids(E);
    for (size_t e = 0; e < E; ++e) {
        const edge h{static_cast<int32_t>(e)};
        ends[e] = {L.source(h).index, L.target(h).index};
        ids[e] = h.index;
    }
    const csrGraph g(boost::edges_are_unsorted_multi_pass, ends.begin(), ends.end(), ids.begin(), n);
    ends = {};
    ids = {};
    auto index = [&g](csrGraph::edge_descriptor e) { return static_cast<size_t>(get(boost::edge_index, g, e)); };
    // Weight = cost * 2^27 + 1: the cheapest paths, and among them the fewest edges.
    std::vector<int64_t> weight(E);
    std::vector<size_t> terminalAt(E - static_cast<size_t>(L.number_of_grid_edges()));
    for (auto [e, end] = boost::edges(g); e != end; ++e) {
        const int32_t id = g[*e];
        if (id >= L.number_of_grid_edges()) terminalAt[static_cast<size_t>(id - L.number_of_grid_edges())] = index(*e);
        weight[index(*e)] = (int64_t{grid.cost[edge{id}]} << 27) + 1;
    }
    std::vector<int64_t> dist(n);
    std::vector<int32_t> pred(n, -1);
    const int32_t src = L.source_terminal().index, sink = L.sink_terminal().index;
    struct reachedSink {};
    struct tieBreak : boost::default_dijkstra_visitor {
        const int64_t* w;
        const int64_t* d;
        int32_t* p;
        int32_t sink;
        bool stop;
        void edge_relaxed(csrGraph::edge_descriptor e, const csrGraph& gr) const { p[target(e, gr)] = gr[e]; }
        // An equally short path through an earlier-created edge takes its place.
        void edge_not_relaxed(csrGraph::edge_descriptor e, const csrGraph& gr) const {
            const auto v = target(e, gr);
            if (d[source(e, gr)] + w[get(boost::edge_index, gr, e)] == d[v] && gr[e] < p[v]) p[v] = gr[e];
        }
        void finish_vertex(csrGraph::vertex_descriptor u, const csrGraph&) const {
            if (stop && static_cast<int32_t>(u) == sink) throw reachedSink{};
        }
    };
    auto shortestPath = [&](int lo, int hi) {
        for (int32_t t = 0; t < L.band_rows(); ++t) {
            const int64_t c = (3 + t > hi || 3 + t < lo) ? BLOCKED_COST : 1;
            weight[terminalAt[2 * static_cast<size_t>(t)]] = (c << 27) + 1;
            weight[terminalAt[2 * static_cast<size_t>(t) + 1]] = (c << 27) + 1;
        }
        pred[static_cast<size_t>(src)] = -1;
        pred[static_cast<size_t>(sink)] = -1;
        tieBreak visitor;
        visitor.w = weight.data();
        visitor.d = dist.data();
        visitor.p = pred.data();
        visitor.sink = sink;
        visitor.stop = stopAtSink;
        try {
            boost::dijkstra_shortest_paths(
                g, static_cast<csrGraph::vertex_descriptor>(src),
                boost::weight_map(boost::make_iterator_property_map(weight.data(), get(boost::edge_index, g)))
                    .distance_map(boost::make_iterator_property_map(dist.data(), get(boost::vertex_index, g)))
                    .visitor(visitor)
                    .distance_inf(std::numeric_limits<int64_t>::max()));
        } catch (const reachedSink&) {
        }
        std::vector<edge> path;
        for (int32_t v = sink; pred[static_cast<size_t>(v)] >= 0;) {
            const edge e{pred[static_cast<size_t>(v)]};
            path.push_back(e);
            v = L.source(e).index;
        }
        return path;
    };
    const testing::plainOutcome r =
        testing::plainSearchWith(grid, in.primaryRaster, in.secondaryRaster, 10 * int64_t{H} + 100, shortestPath);
    return writeResult(grid, r, stopAtSink ? "boost-stopped.tif" : "boost.tif");
}
#endif

// The search's counts of one run of the program, written to "counts.txt".
int countedTrace() {
    tracerReport report;
    runTracer(tracerPaths{"outx.tif", "outx1.tif", "counted.tif"}, &report);
    std::FILE* f = std::fopen("counts.txt", "w");
    if (f == nullptr) return 2;
    const searchResult& s = report.search;
    std::fprintf(f, "%lld %lld %lld %lld %lld %d\n", static_cast<long long>(s.iterations),
                 static_cast<long long>(s.shortestPathRuns), static_cast<long long>(s.nodesSettled),
                 static_cast<long long>(s.reusedPaths), static_cast<long long>(s.finishedLater), s.searchOutcome);
    std::fclose(f);
    return 0;
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

// Rows of drift that give a spiral turn needing at least eight iterations at this size.
double multiIterationDrift(int W, int H) { return int64_t{W} * H <= 300 * 300 ? 10.0 : 5.0; }

std::string ms(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds * 1000);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string sizesText = "256x256,720x400,1024x1024,2048x2048,4096x4096,5792x5792";
    std::string kinds = "one,multi";
    long long plainUpTo = 2048LL * 2048, boostUpTo = 2048LL * 2048;
    int repeat = 5;
    std::string against;
    for (int i = 1; i < argc; i += 2) {
        const std::string a = argv[i];
        const bool known = a == "--sizes" || a == "--kinds" || a == "--plain-up-to" || a == "--boost-up-to" ||
                           a == "--repeat" || a == "--against";
        if (!known || i + 1 >= argc) {
            std::fprintf(a == "--help" ? stdout : stderr,
                         "usage: tracer_bench [--sizes WxH,...] [--kinds one,multi] [--repeat N]\n"
                         "                    [--plain-up-to PIXELS] [--boost-up-to PIXELS] [--against PROGRAM]\n"
                         "Times the tracer program on generated rings (one-iteration and multi-iteration\n"
                         "searches), with the plain reference search and Boost.Graph peers up to the given\n"
                         "sizes in pixels; --against runs another tracer program alternately and compares\n"
                         "its new.tif byte for byte.\n");
            return a == "--help" ? 0 : 2;
        }
        if (a == "--sizes") sizesText = argv[i + 1];
        if (a == "--kinds") kinds = argv[i + 1];
        if (a == "--plain-up-to") plainUpTo = std::atoll(argv[i + 1]);
        if (a == "--boost-up-to") boostUpTo = std::atoll(argv[i + 1]);
        if (a == "--repeat") repeat = std::max(1, std::atoi(argv[i + 1]));
        // Absolute: every run starts in its ring's own folder.
        if (a == "--against") against = std::filesystem::absolute(argv[i + 1]).string();
    }
    std::printf("processor: %s, %u hardware threads\n", bench::processorModel().c_str(), std::thread::hardware_concurrency());
    // Start-up alone (loading the program and its libraries, then `--version`): the part of a
    // small image's run that no change to the tracing can reach.
    {
        std::vector<std::pair<std::string, std::string>> programs{{"ringtrace", RINGTRACE_BIN}};
        if (!against.empty()) programs.emplace_back("against", against);
        const std::string here = ".";
        std::vector<std::vector<double>> walls(programs.size());
        for (int k = 0; k < 21; ++k) {
            for (size_t i = 0; i < programs.size(); ++i) {
                const char* program = programs[i].second.c_str();
                const measured m = inChild(here, [program] {
                    if (!std::freopen("/dev/null", "w", stdout)) return 126;
                    execl(program, "ringtrace", "--version", static_cast<char*>(nullptr));
                    return 127;
                });
                walls[i].push_back(m.seconds);
            }
        }
        for (size_t i = 0; i < programs.size(); ++i) {
            std::sort(walls[i].begin(), walls[i].end());
            std::printf("start-up (%s --version), median wall of 21 runs: %s ms\n", programs[i].first.c_str(),
                        ms(walls[i][walls[i].size() / 2]).c_str());
        }
    }
    std::printf("ringtrace: median wall of %d runs and its CPU time; peak is the largest of them\n", repeat);
    std::printf("%-5s %-11s %5s %5s %9s %6s %5s | %8s %8s %8s %6s | %9s %4s | %9s %4s %8s | %9s %4s %8s\n", "kind",
                "size", "iters", "runs", "settled", "reused", "later", "wall ms", "cpu ms", "peak MB", "B/px",
                "plain ms", "same", "boost ms", "same", "speed-up", "stopped", "same", "speed-up");
    bool allSame = true;
    for (const std::string kind : {"one", "multi"}) {
        if (kinds.find(kind) == std::string::npos) continue;
        for (const auto& dims : parseSizes(sizesText)) {
            const int W = dims.first, H = dims.second;
            scratchDir dir;
            ringgen::RingParams p;
            p.width = W;
            p.height = H;
            p.drift = kind == "multi" ? multiIterationDrift(W, H) : 0.0;
            // Generated in a child, so that this process stays small and every child's peak
            // memory is its own.
            const measured made = inChild(dir.path(), [&] {
                std::string error;
                if (ringgen::writeRingPair(".", p, nullptr, &error)) return 0;
                std::fprintf(stderr, "cannot make a %dx%d ring: %s\n", W, H, error.c_str());
                return 1;
            });
            if (made.status != 0) return 1;

            std::vector<measured> runs, otherRuns;
            std::string otherImage, lastImage;
            // One unmeasured round first: the first runs after the ring was written meet
            // the memory the generator has just given back, and at 4096² and up the
            // medians of five moved by up to 2x from one bench run to the next.
            for (int k = -1; k < repeat; ++k) {
                // Each program goes first in every other round: at the largest sizes the
                // run that follows the other's was up to 1.6 times slower (system time
                // finding huge pages), whichever program it was.
                const bool order[2] = {k % 2 != 0, k % 2 == 0};
                for (const bool other : order) {
                    if (other && against.empty()) continue;
                    const char* program = other ? against.c_str() : RINGTRACE_BIN;
                    const measured m = inChild(dir.path(), [program] {
                        execl(program, "ringtrace", static_cast<char*>(nullptr));
                        return 127;
                    });
                    if (m.status != 0) {
                        std::fprintf(stderr, "%s failed on %dx%d (status %d)\n", program, W, H, m.status);
                        return 1;
                    }
                    if (k < 0) continue;
                    (other ? otherRuns : runs).push_back(m);
                    (other ? otherImage : lastImage) = bytesOf(dir.file("new.tif"));
                }
            }
            auto median = [](std::vector<measured>& v, long& peak) {
                peak = 0;
                for (const measured& m : v) peak = std::max(peak, m.peakKb);
                std::sort(v.begin(), v.end(), [](const measured& a, const measured& b) { return a.seconds < b.seconds; });
                return v[v.size() / 2];
            };
            long peak = 0, otherPeak = 0;
            const measured ours = median(runs, peak);

            inChild(dir.path(), countedTrace);
            long long iterations = 0, spRuns = 0, settled = 0, reused = 0, later = 0;
            int outcome = 0;
            {
                std::ifstream counts(dir.file("counts.txt"));
                counts >> iterations >> spRuns >> settled >> reused >> later >> outcome;
            }
            const std::string ourImage = lastImage;
            if (!against.empty()) {
                const measured theirs = median(otherRuns, otherPeak);
                const long long px = static_cast<long long>(W) * H;
                std::printf("%-5s %-11s against: %8s %8s %8.1f %6.1f | ours/theirs wall %.2f cpu %.2f peak %.2f | same image: %s\n",
                            kind.c_str(), (std::to_string(W) + "x" + std::to_string(H)).c_str(), ms(theirs.seconds).c_str(),
                            ms(theirs.cpuSeconds).c_str(), otherPeak / 1024.0, otherPeak * 1024.0 / static_cast<double>(px),
                            ours.seconds / theirs.seconds, ours.cpuSeconds / theirs.cpuSeconds,
                            static_cast<double>(peak) / static_cast<double>(otherPeak), otherImage == ourImage ? "yes" : "NO");
                allSame = allSame && otherImage == ourImage;
            }

            const long long pixels = static_cast<long long>(W) * H;
            std::string plainMs = "-", plainSame = "-";
            if (pixels <= plainUpTo) {
                const measured ref = inChild(dir.path(), referenceTrace, 60.0);
                if (ref.timedOut) {
                    plainMs = ">60000";
                } else {
                    plainMs = ms(ref.seconds);
                    plainSame = ref.status == 0 && bytesOf(dir.file("reference.tif")) == ourImage ? "yes" : "NO";
                }
            }
            struct peerResult {
                std::string ms = "-", same = "-", speedUp = "-";
            };
            peerResult boostFull, boostStopped;
#ifdef RT_HAVE_BOOST_GRAPH
            if (pixels <= boostUpTo) {
                for (const bool stop : {false, true}) {
                    peerResult& out = stop ? boostStopped : boostFull;
                    const measured peer = inChild(dir.path(), [stop] { return boostTrace(stop); }, 300.0);
                    if (peer.timedOut) {
                        out.ms = ">300000";
                        continue;
                    }
                    out.ms = ms(peer.seconds);
                    out.same = peer.status == 0 && bytesOf(dir.file(stop ? "boost-stopped.tif" : "boost.tif")) == ourImage
                                   ? "yes"
                                   : "NO";
                    char ratio[32];
                    std::snprintf(ratio, sizeof ratio, "%.1fx", peer.seconds / ours.seconds);
                    out.speedUp = ratio;
                }
            }
#endif
            allSame = allSame && plainSame != "NO" && boostFull.same != "NO" && boostStopped.same != "NO";
            char size[32];
            std::snprintf(size, sizeof size, "%dx%d", W, H);
            std::printf("%-5s %-11s %5lld %5lld %9lld %6lld %5lld | %8s %8s %8.1f %6.1f | %9s %4s | %9s %4s %8s | %9s %4s %8s%s\n",
                        kind.c_str(), size, iterations, spRuns, settled, reused, later, ms(ours.seconds).c_str(),
                        ms(ours.cpuSeconds).c_str(), peak / 1024.0, peak * 1024.0 / static_cast<double>(pixels),
                        plainMs.c_str(), plainSame.c_str(), boostFull.ms.c_str(), boostFull.same.c_str(),
                        boostFull.speedUp.c_str(), boostStopped.ms.c_str(), boostStopped.same.c_str(),
                        boostStopped.speedUp.c_str(), outcome == SEARCH_ACCEPTED ? "" : "  (nothing accepted)");
        }
    }
    return allSame ? 0 : 1;
}
