// The JSON summary and the CSV, read back with a JSON parser and held against "new.tif" and
// against the search itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli_fixtures.h"
#include "dir_snapshot.h"
#include "driver.h"
#include "edge_cost.h"
#include "grid_graph.h"
#include "image_input.h"
#include "output_image.h"
#include "path_evaluation.h"
#include "run_program.h"
#include "scratch_dir.h"

using namespace ringtrace::testing;
using nlohmann::json;

namespace {

fixtures::RunResult traceWithFiles(const std::string& dir) {
    return fixtures::runProgram(RINGTRACE_BIN, {"--summary", "summary.json", "--csv", "contour.csv"}, dir);
}

json readSummary(const std::string& dir) { return json::parse(bytesOf(dir + "/summary.json")); }

// A step of a path, from one pixel to the next, is one of the grid's nine edge offsets.
bool isGridStep(int dx, int dy) {
    for (const auto& o : ringtrace::kGridOffsets) {
        if (o.dx == dx && o.dy == dy) return true;
    }
    return false;
}

// Evaluates [lo, hi] on its own, as the search does, for the figures of that interval.
struct ownEvaluation {
    ringtrace::branchNode record;
    ringtrace::evaluationStats stats;
};

ownEvaluation evaluateOnItsOwn(const std::string& dir, int32_t lo, int32_t hi) {
    ringtrace::inputImages in;
    std::string why;
    const std::string primary = dir + "/outx.tif", secondary = dir + "/outx1.tif";
    EXPECT_EQ(ringtrace::readInputs(primary.c_str(), secondary.c_str(), in, why), ringtrace::inputStatus::read);
    ringtrace::pixelGrid grid;
    ringtrace::buildGrid(grid, in.width, in.height);
    ringtrace::priceGridEdges(grid, in.primaryRaster, in.secondaryRaster);
    ringgraph::node_array<ringtrace::edge> pred;
    pred.init_for_overwrite(grid.G);
    ringtrace::pathEvaluator evaluator(grid, in.primaryRaster, in.secondaryRaster, pred);
    ownEvaluation own;
    own.record = ringtrace::branchNode(lo, hi, 0, false);
    own.stats = evaluator.evaluateInterval(lo, hi, own.record);
    releaseRasters(in);
    TIFFClose(in.primary);
    TIFFClose(in.secondary);
    return own;
}

}  // namespace

TEST(Summary, TheContourIsExactlyThe160PixelsOfTheImageUnmirroredInPathOrder) {
    // Seed 6 accepts the high half of the first split, seed 1 the low half.
    for (auto [W, H, seed] : {std::tuple{200, 120, 6}, std::tuple{90, 60, 1}, std::tuple{360, 200, 1}}) {
        fixtures::ScratchDir dir;
        makeRing(dir.path(), W, H, static_cast<uint64_t>(seed));
        const auto run = traceWithFiles(dir.path());
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "");
        const json s = readSummary(dir.path());
        ASSERT_EQ(s["outcome"], "accepted");
        EXPECT_EQ(s["width"], W);
        EXPECT_EQ(s["height"], H);
        EXPECT_EQ(s["status"], 0);
        EXPECT_EQ(s["meaning"], "traced");

        greyImage img;
        ASSERT_TRUE(readGrey(dir.file("new.tif"), img));
        std::set<std::pair<int, int>> marked;
        for (uint32_t r = 0; r < img.height; ++r) {
            for (uint32_t x = 0; x < img.width; ++x) {
                if (img.at(x, r) == 160) marked.emplace(static_cast<int>(x), H - 1 - static_cast<int>(r));
            }
        }
        const json& contour = s["contour"];
        std::set<std::pair<int, int>> listed;
        for (const json& p : contour) listed.emplace(p[0].get<int>(), p[1].get<int>());
        EXPECT_EQ(listed, marked) << W << "x" << H;
        EXPECT_EQ(listed.size(), contour.size());  // no pixel twice
        EXPECT_EQ(s["markedPixels"], contour.size());
        ASSERT_FALSE(contour.empty());

        // From the sink end to the source end: each pixel is one grid edge before the one
        // listed ahead of it, the first one edge before the exit pixel (column width - 3),
        // the last one the entry pixel in column 1.
        const int entry = s["entryRow"], exit = s["exitRow"];
        const int lo = s["interval"][0], hi = s["interval"][1];
        EXPECT_LE(std::abs(entry - exit), 2);
        EXPECT_TRUE(lo <= entry && entry <= hi && lo <= exit && exit <= hi);
        EXPECT_TRUE(isGridStep(W - 3 - contour[0][0].get<int>(), exit - contour[0][1].get<int>()));
        for (size_t i = 0; i + 1 < contour.size(); ++i) {
            EXPECT_TRUE(isGridStep(contour[i][0].get<int>() - contour[i + 1][0].get<int>(),
                                   contour[i][1].get<int>() - contour[i + 1][1].get<int>()))
                << "step " << i;
        }
        EXPECT_EQ(contour.back(), json::array({1, entry}));

        std::string csv = "column,row\n";
        for (const json& p : contour) csv += std::to_string(p[0].get<int>()) + "," + std::to_string(p[1].get<int>()) + "\n";
        EXPECT_EQ(bytesOf(dir.file("contour.csv")), csv);
    }
}

TEST(Summary, TheFiguresAreTheSearchsAndTheAcceptedIntervalsOwn) {
    for (auto [W, H, seed] : {std::tuple{200, 120, 6}, std::tuple{200, 120, 1}, std::tuple{300, 180, 11}}) {
        fixtures::ScratchDir dir;
        makeRing(dir.path(), W, H, static_cast<uint64_t>(seed));
        ASSERT_EQ(traceWithFiles(dir.path()).exitCode, 0);
        const json s = readSummary(dir.path());

        // What the search reported, in this process, on the same files.
        ringtrace::tracerReport report;
        const std::string primary = dir.file("outx.tif"), secondary = dir.file("outx1.tif"),
                          output = dir.file("again.tif");
        ASSERT_EQ(ringtrace::runTracer({primary.c_str(), secondary.c_str(), output.c_str()}, &report), 0);
        const ringtrace::searchResult& search = report.search;
        ASSERT_EQ(search.searchOutcome, ringtrace::SEARCH_ACCEPTED);
        EXPECT_EQ(s["iterations"], search.iterations);
        EXPECT_EQ(s["evaluations"], search.evaluations);
        EXPECT_EQ(s["shortestPathRuns"], search.shortestPathRuns);
        EXPECT_EQ(s["interval"], json::array({search.accepted.lo, search.accepted.hi}));
        EXPECT_EQ(s["pathCost"], search.accepted.pathCost);
        EXPECT_EQ(s["rowSum"], search.accepted.rowSum);
        EXPECT_EQ(s["entryRow"], report.entryRow);
        EXPECT_EQ(s["exitRow"], report.exitRow);
        // Single-precision figures read back to the same bits.
        EXPECT_EQ(static_cast<float>(s["dispersion"].get<double>()), search.acceptedStats.dispersion);
        EXPECT_EQ(static_cast<float>(s["secondaryMean"].get<double>()), search.acceptedStats.secondaryMean);

        // And they are the accepted interval's own, evaluated alone (not the figures of the
        // last evaluation, which the acceptance test reads).
        const ownEvaluation own = evaluateOnItsOwn(dir.path(), search.accepted.lo, search.accepted.hi);
        EXPECT_EQ(own.record.pathCost, search.accepted.pathCost);
        EXPECT_EQ(own.record.rowSum, search.accepted.rowSum);
        EXPECT_EQ(own.stats.dispersion, search.acceptedStats.dispersion);
        EXPECT_EQ(own.stats.secondaryMean, search.acceptedStats.secondaryMean);
        const size_t rows = static_cast<size_t>(own.record.predecessors->size());
        EXPECT_EQ(s["markedPixels"], std::min<size_t>(rows - 2, ringtrace::MAX_MARKS));
    }
}

TEST(Summary, RunsWithoutAContourOrWithAFailedReadAreDescribedToo) {
    {
        fixtures::ScratchDir dir;  // secondary support 0 everywhere: nothing is ever accepted
        makeRing(dir.path(), 160, 100, 1, true);
        const auto run = traceWithFiles(dir.path());
        EXPECT_EQ(run.exitCode, 0);
        const json s = readSummary(dir.path());
        EXPECT_NE(s["outcome"], "accepted");
        EXPECT_GT(s["iterations"].get<int>(), 0);
        for (const char* key : {"interval", "pathCost", "rowSum", "entryRow", "exitRow", "dispersion", "secondaryMean"}) {
            EXPECT_TRUE(s[key].is_null()) << key;
        }
        EXPECT_EQ(s["markedPixels"], 0);
        EXPECT_EQ(s["contour"], json::array());
        EXPECT_EQ(bytesOf(dir.file("contour.csv")), "column,row\n");
    }
    {
        fixtures::ScratchDir dir;  // the secondary image is missing: traced on what was read
        makeRing(dir.path(), 64, 40, 5);
        std::filesystem::remove(dir.file("outx1.tif"));
        const auto run = traceWithFiles(dir.path());
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "error image not read\n");
        const json s = readSummary(dir.path());
        EXPECT_EQ(s["status"], 1);
        EXPECT_EQ(s["meaning"], "error image not read");
        EXPECT_EQ(s["width"], 64);
    }
    {
        fixtures::ScratchDir dir;  // no inputs: no image, so nothing beside it either
        const auto run = traceWithFiles(dir.path());
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "error image not read\n");
        EXPECT_TRUE(fixtures::snapshotDir(dir.path()).empty());
    }
}

TEST(Summary, AFileThatCannotBeWrittenKeepsEveryEarlierResult) {
    fixtures::ScratchDir dir;
    makeRing(dir.path(), 90, 60, 1);
    std::ofstream(dir.file("new.tif")) << "previous result";
    // A name the file system takes, but not with the temporary file's suffix.
    const std::string longName(250, 's');
    const auto run = fixtures::runProgram(RINGTRACE_BIN, {"--csv", "contour.csv", "--summary", longName}, dir.path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("ringtrace: cannot create " + longName), std::string::npos) << run.err;
    EXPECT_EQ(bytesOf(dir.file("new.tif")), "previous result");
    const auto files = fixtures::snapshotDir(dir.path());
    EXPECT_EQ(files.size(), 3u);  // the inputs and the earlier new.tif: no csv, no temporary file
    EXPECT_EQ(files.count("contour.csv"), 0u);
}
