#include "pair_trace.h"

#include "edge_cost.h"
#include "graph/large_allocator.h"
#include "graph/page_reuse.h"
#include "grid_graph.h"
#include "render_output.h"

namespace ringtrace {

namespace {

// Rows where the accepted path enters and leaves the grid: its first edge (walking back)
// enters the sink terminal, its last one leaves the source terminal.
void findEnds(const pixelGrid& grid, const branchNode& accepted, tracerReport& report) {
    if (!accepted.predecessors || accepted.predecessors->empty()) return;
    const std::vector<edge>& path = *accepted.predecessors;
    report.exitRow = grid.rowOf(grid.idOf(grid.G.source(path.front())));
    report.entryRow = grid.rowOf(grid.idOf(grid.G.target(path.back())));
}

void checkCancel(const std::atomic<bool>* cancel) {
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) throw traceCancelled();
}

}  // namespace

void traceRasters(const uint32_t* primaryRaster, const uint32_t* secondaryRaster, int32_t W, int32_t H,
                  tracerReport& report, uint8_t* marks, const std::atomic<bool>* cancel,
                  const progressCallback& progress, const std::function<void()>& rastersDone) {
    // Pages freed by one phase hold the next one's arrays (the program's driver has a scope
    // of its own that also covers the files and rasters; this one then does nothing).
    ringgraph::page_reuse keptPages;
    const auto pixels = static_cast<size_t>(int64_t{W} * H);
    const int status = report.status;
    report = tracerReport{};  // nothing of an earlier trace survives in it
    report.status = status;
    report.width = W;
    report.height = H;
    checkCancel(cancel);

    pixelGrid grid;
    buildGrid(grid, W, H);
    checkCancel(cancel);
    priceGridEdges(grid, primaryRaster, secondaryRaster, cancel);
    checkCancel(cancel);
    // No predecessor array: each run hands over its path, and the records carry them.
    pathEvaluator evaluator(grid, primaryRaster, secondaryRaster);
    // The evaluator keeps the red components it needs: nothing reads the rasters from here.
    if (rastersDone) rastersDone();
    progressCallback step = progress;
    if (cancel != nullptr) {
        evaluator.setInterrupt([cancel] { checkCancel(cancel); });
        step = [cancel, &progress](const searchProgress& p) {
            checkCancel(cancel);
            if (progress) progress(p);
        };
    }
    const searchResult search = searchContour(evaluator, grid, maxIterations(H), step);
    checkCancel(cancel);
    report.search = search;
    // The costs are done with: their pages go back before the mark buffer is taken, so the
    // peak stays the search's.
    grid.cost = ringgraph::lattice_costs();
    ringgraph::large_vector<float> markBuffer(marks != nullptr ? pixels : 0, BACKGROUND_MARK);
    if (search.searchOutcome != SEARCH_EXHAUSTED) {
        static const std::vector<edge> none;
        const std::vector<edge>& path = search.accepted.predecessors ? *search.accepted.predecessors : none;
        report.marked = markPath(grid, path, marks != nullptr ? markBuffer.data() : nullptr, &report.contour);
        findEnds(grid, search.accepted, report);
    }
    if (marks != nullptr) convertMarks(markBuffer.data(), marks, pixels);
}

}  // namespace ringtrace
