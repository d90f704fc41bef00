// The vector column pricer against the plain one, bit for bit, over every red sum, every
// support sum and every step weight that occur, with orientation terms from a dense sweep,
// the extremes and the values that put the quotient right on a rounding boundary.
#include "edge_cost_column.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "edge_cost.h"
#include "grid_graph.h"

using namespace ringtrace;

namespace {

// The weights and row terms of the nine steps (the step vector itself is not used here).
const sweepStep kSteps[9] = {{0, 1, 340, 0}, {0, 1, 340, 0}, {1, 1, 480, 1},
                             {1, 0, 340, 0}, {1, 1, 480, 1}, {1, 1, 480, 1},
                             {1, 1, 480, 1}, {1, 1, 760, 1}, {1, 1, 760, 1}};

// Every red sum and support sum of two signed bytes: -256..254.
constexpr int kSums = 511;

struct column {
    std::vector<int32_t> redT, redH, supT, supH;
    std::vector<float> alongT, alongH;
    explicit column(size_t n) : redT(n), redH(n), supT(n), supH(n), alongT(n), alongH(n) {}
    void setSums(size_t i, int red, int support) {
        redT[i] = red / 2;
        redH[i] = red - red / 2;
        supT[i] = support - support / 2;
        supH[i] = support / 2;
    }
    columnRuns runs() const {
        columnRuns r;
        for (int j = 0; j < 9; ++j) {
            r.tail[j] = sweepPixels{redT.data(), supT.data(), alongT.data()};
            r.head[j] = sweepPixels{redH.data(), supH.data(), alongH.data()};
        }
        return r;
    }
};

// Every vector pricer this processor runs.
std::vector<columnPricer> vectorPricers() {
    std::vector<columnPricer> all;
    for (const columnPricer p : {avx2ColumnPricer(), avx512ColumnPricer()}) {
        if (p != nullptr) all.push_back(p);
    }
    return all;
}

// Prices the column both ways; the first difference, if any, is reported.
void expectPricersAgree(columnPricer fast, const column& c, int32_t n) {
    std::vector<uint16_t> plain(9 * static_cast<size_t>(n) + 1, 0xabcd), vector(plain);
    int32_t leastPlain[9], leastVector[9];
    for (int j = 0; j < 9; ++j) leastPlain[j] = leastVector[j] = 0xffff;
    const columnRuns runs = c.runs();
    priceColumnPlain(runs, n, kSteps, plain.data(), leastPlain);
    fast(runs, n, kSteps, vector.data(), leastVector);
    for (size_t e = 0; e < plain.size(); ++e) {
        if (plain[e] != vector[e]) {
            const size_t i = e / 9;
            FAIL() << "row " << i << " step " << e % 9 << ": " << vector[e] << " for " << plain[e]
                   << " (red " << c.redT[i] + c.redH[i] << ", support " << c.supT[i] + c.supH[i]
                   << ", along " << c.alongT[i] << " and " << c.alongH[i] << ")";
        }
    }
    for (int j = 0; j < 9; ++j) EXPECT_EQ(leastPlain[j], leastVector[j]) << "step " << j;
}

// How far the orientation term reaches: the half sum of two projections of unit vectors.
std::vector<float> orientationSamples() {
    std::vector<float> s = {0.0f,
                            std::numeric_limits<float>::denorm_min(),
                            1e-30f,
                            0x1p-30f,
                            1e-7f,
                            0.5f,
                            1.0f,
                            std::nextafter(1.0f, 2.0f),
                            std::nextafter(std::nextafter(1.0f, 2.0f), 2.0f),
                            std::nextafter(1.0f, 0.0f),
                            std::numeric_limits<float>::quiet_NaN()};
    for (int k = 0; k <= 4096; ++k) s.push_back(static_cast<float>(k) / 4096.0f);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int k = 0; k < 4096; ++k) s.push_back(unit(rng));
    return s;
}

}  // namespace

TEST(ColumnPricer, VectorMatchesPlainOverEverySumAndAnOrientationSweep) {
    if (vectorPricers().empty()) GTEST_SKIP() << "no vector pricer on this processor";
    for (const columnPricer fast : vectorPricers()) {
        const std::vector<float> samples = orientationSamples();
        const int32_t n = kSums * kSums;
        column c(static_cast<size_t>(n));
        // Each round pairs every red and support sum with a different orientation term, the two
        // ends' projections equal in some rounds and apart in others.
        for (int round = 0; round < 24; ++round) {
            for (int32_t i = 0; i < n; ++i) {
                const auto k = static_cast<size_t>(i);
                c.setSums(k, i % kSums - 256, i / kSums - 256);
                const float a =
                    samples[(k * 7919u + static_cast<size_t>(round) * 104729u) % samples.size()];
                const float b =
                    round % 2 == 0
                        ? a
                        : samples[(k * 31u + static_cast<size_t>(round)) % samples.size()];
                c.alongT[k] = a;
                c.alongH[k] = b;
            }
            expectPricersAgree(fast, c, n);
            if (HasFatalFailure() || HasNonfatalFailure()) return;
        }
    }
}

TEST(ColumnPricer, VectorMatchesPlainWhereTheQuotientMeetsAnInteger) {
    // Orientation terms that put the quotient on an integer or a few units of the last
    // place either side: the lanes the single-precision path must hand to the exact one.
    if (vectorPricers().empty()) GTEST_SKIP() << "no vector pricer on this processor";
    for (const columnPricer fast : vectorPricers()) {
        std::vector<int> redSums, supportSums;
        for (int s = -256; s <= 254; s += 3) redSums.push_back(s);
        for (int s = -256; s <= 254; s += 5) supportSums.push_back(s);
        std::mt19937 rng(3);
        for (const double weight : {340.0, 480.0, 760.0}) {
            column c(redSums.size() * supportSums.size() * 16);
            size_t i = 0;
            for (const int red : redSums) {
                for (const int support : supportSums) {
                    const double m = static_cast<double>(((red + 1) >> 1) + 1);
                    const double C = support / 256.0 + 0.01;
                    const double q = weight / (1.1 * m * C);  // the quotient at S = 1
                    if (!(q > 0)) continue;                   // no boundary but 0 to meet
                    // An integer the quotient reaches with S in [0, 1], 2000 sometimes.
                    const double lo = std::min(q, q * 11.0), hi = std::max(q, q * 11.0);
                    double target = std::ceil(lo) + static_cast<double>(rng() % 64);
                    if (rng() % 8 == 0) target = 2000.0;
                    if (!(target < hi)) target = std::ceil(lo);
                    float s =
                        std::clamp(static_cast<float>(weight / (target * m * C) - 0.1), 0.0f, 1.0f);
                    for (int d = 0; d < 4; ++d) s = std::nextafter(s, -1.0f);
                    for (int d = 0; d < 16; ++d, ++i) {
                        c.setSums(i, red, support);
                        c.alongT[i] = c.alongH[i] = s;  // half their sum is s again
                        if (d % 2 == 1) s = std::nextafter(s, 2.0f);
                    }
                }
            }
            expectPricersAgree(fast, c, static_cast<int32_t>(i));
            if (HasFatalFailure() || HasNonfatalFailure()) return;
        }
    }
}

TEST(ColumnPricer, SinglePrecisionQuotientStaysWithinTheProvenBound) {
    // The vector path's quotient, step by step in single precision, lies within 9.7 units
    // in the last place (relative, 2^-24) of the definition's double quotient for every red
    // and support sum, each weight, and the orientation sweep: the margin of 16 units the
    // path allows itself covers it.
    const std::vector<float> samples = orientationSamples();
    double worst = 0.0;
    for (const int weight : {340, 480, 760}) {
        for (int red = -256; red <= 254; ++red) {
            for (int support = -256; support <= 254; ++support) {
                const int L = (red + 1) >> 1;
                if (L + 1 == 0) continue;  // an infinity, the same one both ways
                const double Q = support / 256.0;
                const float m = static_cast<float>(L + 1);
                const float C = static_cast<float>(support) * (1.0f / 256.0f) + 0.01f;
                for (size_t k = static_cast<size_t>(red + support + 512) % 97; k < samples.size();
                     k += 97) {
                    const float S = samples[k];
                    if (std::isnan(S)) continue;
                    const double exact =
                        weight / (((static_cast<double>(S) + 0.1) * (L + 1)) * (Q + 0.01));
                    volatile float a = S + 0.1f;  // volatile: each step rounded on its own
                    volatile float d = a * m;
                    d = d * C;
                    const float q = static_cast<float>(weight) / d;
                    worst = std::max(worst, std::fabs(q - exact) / std::fabs(exact));
                }
            }
        }
    }
    EXPECT_LE(worst, 9.7 * 0x1p-24);
}

TEST(ColumnPricer, PartialBlocksAndLeastCostsMatchPlain) {
    // Columns of every length up to a few vectors: the last rows of a column and the least
    // cost of each run.
    if (vectorPricers().empty()) GTEST_SKIP() << "no vector pricer on this processor";
    for (const columnPricer fast : vectorPricers()) {
        std::mt19937 rng(8);
        for (int32_t n = 1; n <= 70; ++n) {
            column c(static_cast<size_t>(n) + 16);
            for (int32_t i = 0; i < n; ++i) {
                const auto k = static_cast<size_t>(i);
                c.setSums(k, static_cast<int>(rng() % kSums) - 256,
                          static_cast<int>(rng() % kSums) - 256);
                c.alongT[k] = static_cast<float>(rng() % 10000) / 10000.0f;
                c.alongH[k] = static_cast<float>(rng() % 10000) / 10000.0f;
            }
            expectPricersAgree(fast, c, n);
            if (HasFatalFailure() || HasNonfatalFailure()) return;
        }
    }
}

TEST(ColumnPricer, WholePassAgreesWithThePlainPricer) {
    // The pass hands each pricer the same runs: the costs and the column bounds agree on
    // images whose band heights are and are not whole vectors.
    std::mt19937 rng(21);
    for (const auto& size : {std::pair{40, 39}, std::pair{33, 70}, std::pair{17, 263}}) {
        const int W = size.first, H = size.second;
        std::vector<uint32_t> primary(static_cast<size_t>(W) * static_cast<size_t>(H)),
            secondary(primary.size());
        for (auto& w : primary) w = rng() & 0xffffffu;
        for (auto& w : secondary) w = rng() & 0xffu;
        pixelGrid plain, fast;
        buildGrid(plain, W, H);
        buildGrid(fast, W, H);
        priceGridEdges(plain, primary.data(), secondary.data(), priceColumnPlain);
        priceGridEdges(fast, primary.data(), secondary.data(), fastestColumnPricer());
        const int64_t edges = plain.G.number_of_grid_edges();
        ASSERT_EQ(std::memcmp(plain.cost.grid_data(), fast.cost.grid_data(),
                              static_cast<size_t>(edges) * 2),
                  0)
            << W << " x " << H;
        // Reading the data above dropped the bounds; price again for them.
        priceGridEdges(plain, primary.data(), secondary.data(), priceColumnPlain);
        priceGridEdges(fast, primary.data(), secondary.data(), fastestColumnPricer());
        const auto* a = plain.cost.current_column_moves();
        const auto* b = fast.cost.current_column_moves();
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        for (int x = 1; x <= W - 4; ++x) {
            EXPECT_EQ(a[x].left, b[x].left) << "column " << x;
            EXPECT_EQ(a[x].right, b[x].right) << "column " << x;
            EXPECT_EQ(a[x].jump, b[x].jump) << "column " << x;
        }
    }
}
