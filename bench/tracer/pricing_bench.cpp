// The pricing pass and the potential's preparation alone, in process, on the rings of the
// folders given (each holding outx.tif and outx1.tif): the least and the median time of N
// rounds of each (and the pricing's CPU time, summed over its threads), and a checksum of the costs (the same for every build that prices right).
// With --with-plain every round also prices with the plain pricer (the reference, one
// column run at a time), alternating with the fastest one, and the two are compared.
//
//   pricing_bench [--rounds N] [--with-plain] FOLDER...
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "edge_cost.h"
#include "graph/goal_search.h"
#include "grid_graph.h"
#include "image_input.h"

namespace {

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void report(const char* what, std::vector<double> t) {
    std::sort(t.begin(), t.end());
    std::printf("  %-10s least %8.2f ms  median %8.2f ms\n", what, t.front() * 1e3, t[t.size() / 2] * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 11;
    bool withPlain = false;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--with-plain") {
            withPlain = true;
        } else {
            folders.push_back(a);
        }
    }
    if (folders.empty()) {
        std::fprintf(stderr, "usage: pricing_bench [--rounds N] [--with-plain] FOLDER...\n");
        return 2;
    }
    for (const std::string& folder : folders) {
        ringtrace::inputImages in;
        std::string why;
        const std::string p = folder + "/outx.tif", s = folder + "/outx1.tif";
        if (ringtrace::readInputs(p.c_str(), s.c_str(), in, why) != ringtrace::inputStatus::read) {
            std::fprintf(stderr, "%s: not read %s\n", folder.c_str(), why.c_str());
            return 1;
        }
        ringtrace::pixelGrid grid;
        ringtrace::buildGrid(grid, in.width, in.height);
        std::vector<double> price, priceCpu, prepare, plain;
        uint64_t sum = 0;
        auto checksum = [&] {
            const uint16_t* c = grid.cost.grid_data();
            uint64_t h = 0;
            for (int64_t e = 0; e < grid.G.number_of_grid_edges(); ++e) h = h * 1000003u + c[e];
            return h;
        };
        uint64_t plainSum = 0;
        int64_t source = 0, corridor = 0;
        for (int r = 0; r < rounds; ++r) {
            if (withPlain) {
                const auto p0 = std::chrono::steady_clock::now();
                ringtrace::priceGridEdges(grid, in.primaryRaster, in.secondaryRaster, ringtrace::priceColumnPlain);
                plain.push_back(seconds(p0, std::chrono::steady_clock::now()));
                if (r == 0) plainSum = checksum();
            }
            const double c0 = cpuSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            ringtrace::priceGridEdges(grid, in.primaryRaster, in.secondaryRaster);
            const auto t1 = std::chrono::steady_clock::now();
            priceCpu.push_back(cpuSeconds() - c0);
            ringgraph::goal_search engine;
            engine.prepare(grid.G, grid.cost);
            const auto t2 = std::chrono::steady_clock::now();
            price.push_back(seconds(t0, t1));
            prepare.push_back(seconds(t1, t2));
            source = engine.source_distance();
            corridor = engine.corridor_count();
        }
        sum = checksum();
        std::printf("%s (%d x %d): checksum %016llx, source distance %lld, corridor %lld nodes\n", folder.c_str(), in.width, in.height,
                    static_cast<unsigned long long>(sum), static_cast<long long>(source),
                    static_cast<long long>(corridor));
        report("pricing", price);
        if (withPlain) {
            report("plain", plain);
            std::sort(plain.begin(), plain.end());
            std::sort(price.begin(), price.end());
            std::printf("  plain pricer: checksum %016llx (%s), least plain / least pricing %.2f\n",
                        static_cast<unsigned long long>(plainSum), plainSum == sum ? "same" : "DIFFERENT",
                        plain.front() / price.front());
        }
        report("(cpu)", priceCpu);
        report("potential", prepare);
        ringtrace::releaseRasters(in);
    }
    return 0;
}
