#include "path_evaluation.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "image_input.h"

namespace ringtrace {

pathEvaluator::pathEvaluator(pixelGrid& grid, const uint32_t* primaryRaster,
                             const uint32_t* secondaryRaster, ringgraph::node_array<edge>& pred)
    : pathEvaluator(grid, primaryRaster, secondaryRaster) {
    pred_ = &pred;
}

pathEvaluator::pathEvaluator(pixelGrid& grid, const uint32_t* primaryRaster, const uint32_t* secondaryRaster)
    : grid_(grid) {
    const size_t pixels = static_cast<size_t>(int64_t{grid.width} * grid.height);
    heldRed_ = grid.cost.claim_spare(2 * pixels);
    uint8_t* red = nullptr;
    if (heldRed_ != nullptr) {
        red = reinterpret_cast<uint8_t*>(heldRed_);
    } else {
        ownRed_.resize(2 * pixels);
        red = ownRed_.data();
    }
    red_ = red;
    for (size_t i = 0; i < pixels; ++i) {
        red[2 * i] = redOf(primaryRaster[i]);
        red[2 * i + 1] = redOf(secondaryRaster[i]);
    }
}

pathEvaluator::~pathEvaluator() { grid_.cost.release_spare(heldRed_); }

void pathEvaluator::gate(int32_t lo, int32_t hi) {
    const ringgraph::lattice& G = grid_.G;
    auto price = [&](int32_t y) { return (y > hi || y < lo) ? BLOCKED_COST : 1; };
    for (edge e = G.first_out_edge(grid_.sourceTerminal); e != G.stop_out_edge(); e = G.next_out_edge(e)) {
        grid_.cost[e] = price(grid_.rowOf(grid_.A[G.target(e)]));
    }
    for (edge e = G.first_in_edge(grid_.sinkTerminal); e != G.stop_in_edge(); e = G.next_in_edge(e)) {
        grid_.cost[e] = price(grid_.rowOf(grid_.A[G.source(e)]));
    }
}

void pathEvaluator::preparePotential() {
    if (engine_.prepared_for(grid_.G, grid_.cost)) return;
    engine_.prepare(grid_.G, grid_.cost);
    potential_ += engine_.corridor_count();
}

void pathEvaluator::setCorridor(int64_t perMille) {
    engine_.set_corridor(perMille);
    engine_.forget();
}

bool pathEvaluator::openPathCost(int64_t& cost) {
    preparePotential();
    cost = engine_.source_distance();
    return engine_.source_distance_known() || cost == ringgraph::goal_search::kUnreachable;
}

evaluationStats pathEvaluator::evaluateInterval(int32_t lo, int32_t hi, branchNode& record) {
    evaluationStats stats;
    int64_t cost = 0;
    evaluateWithin(lo, hi, ringgraph::goal_search::kUncapped, record, stats, cost);
    return stats;
}

bool pathEvaluator::evaluateWithin(int32_t lo, int32_t hi, int64_t cap, branchNode& record, evaluationStats& stats,
                                   int64_t& cost) {
    preparePotential();
    gate(lo, hi);
    auto path = std::make_shared<std::vector<edge>>();
    if (engine_.source_distance() == ringgraph::goal_search::kUnreachable) {
        if (pred_ != nullptr) {
            if (pred_->size() != static_cast<size_t>(grid_.G.number_of_nodes())) pred_->init_for_overwrite(grid_.G);
            (*pred_)[grid_.sinkTerminal] = ringgraph::nil;  // nothing to walk
        }
        cost = 0;
    } else {
        // Only the sink's path is ever read, and a settled node's path never changes, so the
        // run may stop once the sink is settled.
        const bool found = pred_ != nullptr ? engine_.run(grid_.G, grid_.cost, *pred_, cap)
                                            : engine_.run_path(grid_.G, grid_.cost, *path, cap);
        ++runs_;
        settled_ += engine_.settled_count();
        cost = engine_.distance();
        if (!found) return false;
        if (pred_ != nullptr) {
            // The path, from the sink back to the source.
            const ringgraph::node_array<edge>& pred = *pred_;
            const int64_t maxSteps = int64_t{grid_.G.number_of_nodes()};
            node v = grid_.sinkTerminal;
            while (pred[v] != ringgraph::nil && static_cast<int64_t>(path->size()) < maxSteps) {
                path->push_back(pred[v]);
                v = grid_.G.opposite(pred[v], v);
            }
        }
    }
    stats = walk(std::move(path), record);
    return true;
}

evaluationStats pathEvaluator::walk(std::shared_ptr<std::vector<edge>> path, branchNode& record) {
    const ringgraph::lattice& G = grid_.G;
    const int32_t W = grid_.width, H = grid_.height;
    uint32_t pathCost = 0, rowSum = 0;  // 32-bit sums that wrap
    int32_t n = 0;
    float primaryMean = 0.0f, secondaryMean = 0.0f, q = 0.0f;
    int32_t exitRow = -1, entryRow = -1;

    node v = grid_.sinkTerminal;
    for (const edge e : *path) {
        v = G.opposite(e, v);
        ++n;
        pathCost += static_cast<uint32_t>(grid_.cost[e]);
        const int32_t id = grid_.A[v];
        if (grid_.isTerminal(id)) continue;
        const int32_t y = grid_.rowOf(id);
        if (n == 1) exitRow = y;
        entryRow = y;
        rowSum += static_cast<uint32_t>(y);
        const int32_t r = rasterIndex(grid_.columnOf(id), y, W, H);
        const double p = red_[2 * static_cast<size_t>(r)];
        const double s = red_[2 * static_cast<size_t>(r) + 1];
        primaryMean = static_cast<float>(primaryMean + (p - primaryMean) / n);
        q = static_cast<float>(q + (p - primaryMean) * (p - primaryMean));
        secondaryMean = static_cast<float>(secondaryMean + (s - secondaryMean) / n);
    }

    evaluationStats stats;
    const auto spread = static_cast<float>(double{q} / static_cast<double>(n - 1));
    const auto root = static_cast<float>(std::sqrt(double{primaryMean}));
    stats.dispersion = static_cast<float>(double{spread} / double{root});
    stats.secondaryMean = secondaryMean;

    record.pathCost = static_cast<int32_t>(pathCost);
    if (exitRow >= 0 && std::abs(entryRow - exitRow) <= CLOSURE_TOLERANCE) record.closed = true;
    record.predecessors = std::move(path);
    record.rowSum = static_cast<int32_t>(rowSum);
    return stats;
}

}  // namespace ringtrace
