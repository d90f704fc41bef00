#include "contour_search.h"

#include <map>
#include <utility>

#include "graph/integer.h"
#include "graph/p_queue.h"

namespace ringtrace {

namespace {

struct cachedEvaluation {
    branchNode record;
    evaluationStats stats;
};

// Remembers evaluations per interval: while the grid costs do not change an evaluation is
// a pure function of (lo, hi), so a repeated interval needs no new shortest-path search.
class evaluationCache {
public:
    explicit evaluationCache(pathEvaluator& evaluator) : evaluator_(evaluator) {}

    evaluationStats evaluate(branchNode& child) {
        ++calls_;
        const auto key = std::make_pair(child.lo, child.hi);
        auto it = cache_.find(key);
        if (it == cache_.end()) {
            cachedEvaluation fresh;
            fresh.record = child;
            fresh.stats = evaluator_.evaluateInterval(child.lo, child.hi, fresh.record);
            it = cache_.emplace(key, std::move(fresh)).first;
        }
        // A child is always constructed open with cost 0, so the remembered record is
        // exactly what a new evaluation would leave in it.
        child = it->second.record;
        return it->second.stats;
    }
    // Statistics of an interval evaluated earlier.
    evaluationStats statsOf(const branchNode& record) const {
        return cache_.at(std::make_pair(record.lo, record.hi)).stats;
    }
    int64_t calls() const { return calls_; }
    int64_t misses() const { return static_cast<int64_t>(cache_.size()); }

private:
    pathEvaluator& evaluator_;
    std::map<std::pair<int32_t, int32_t>, cachedEvaluation> cache_;
    int64_t calls_ = 0;
};

bool failsInsertion(const branchNode& child, const evaluationStats& latest) {
    if (child.hi - child.lo >= 2) return false;
    return child.rowSum < 0 || child.rowSum > ROW_SUM_BOUND || latest.dispersion > DISPERSION_LIMIT ||
           latest.secondaryMean < 0.0f;
}

bool passesAcceptance(const branchNode& node, const evaluationStats& latest) {
    return node.closed && node.rowSum > 0 && node.rowSum < ROW_SUM_BOUND &&
           latest.dispersion < DISPERSION_LIMIT && latest.secondaryMean > 0.0f;
}

}  // namespace

int64_t maxIterations(int32_t height) { return 16 * int64_t{height} + 1024; }

void restorePredecessors(const branchNode& record, const pixelGrid& grid, ringgraph::node_array<edge>& pred) {
    node v = grid.sinkTerminal;
    if (!record.predecessors) {
        pred[v] = ringgraph::nil;
        return;
    }
    for (const edge e : *record.predecessors) {
        pred[v] = e;
        v = grid.G.opposite(e, v);
    }
    pred[v] = ringgraph::nil;
}

searchResult searchContour(pathEvaluator& evaluator, const pixelGrid& grid,
                           ringgraph::node_array<edge>& pred, int64_t iterationLimit,
                           const progressCallback& progress) {
    using ringgraph::integer;
    searchResult result;
    evaluationCache cache(evaluator);
    const int64_t runsBefore = evaluator.shortestPathRuns();
    auto finish = [&](int outcome) {
        result.searchOutcome = outcome;
        result.evaluations = cache.calls();
        result.shortestPathRuns = evaluator.shortestPathRuns() - runsBefore;
        return result;
    };

    ringgraph::p_queue<integer, branchNode> QNode;
    branchNode rootNode(1, grid.height, ROOT_PATH_COST, false);
    rootNode.rowSum = ROOT_ROW_SUM;
    branchNode currentNode = rootNode;
    QNode.insert(integer(ROOT_PRIORITY), currentNode);

    for (;;) {
        if (result.iterations >= iterationLimit) {
            result.cutShort = true;
            return finish(SEARCH_EXHAUSTED);
        }
        ++result.iterations;
        const int32_t mid = currentNode.lo + (currentNode.hi - currentNode.lo) / 2;

        branchNode HighChild(mid, currentNode.hi, 0, false);
        evaluationStats latest = cache.evaluate(HighChild);
        if (QNode.size() == 0) return finish(SEARCH_EXHAUSTED);
        if (!failsInsertion(HighChild, latest)) QNode.insert(integer(HighChild.pathCost), HighChild);

        branchNode LowChild(currentNode.lo, mid, 0, false);
        latest = cache.evaluate(LowChild);
        if (!failsInsertion(LowChild, latest)) QNode.insert(integer(LowChild.pathCost), LowChild);

        const auto m = QNode.find_min();
        if (QNode.size() == 0) return finish(SEARCH_EXHAUSTED);
        if (progress) {
            const branchNode& best = QNode.inf(m);
            progress(searchProgress{result.iterations, evaluator.shortestPathRuns() - runsBefore, true, best.lo,
                                    best.hi, QNode.prio(m).value()});
        }
        currentNode = QNode.inf(m);
        // The statistics are the latest evaluation's (the low half's), not the node's own.
        if (passesAcceptance(currentNode, latest)) {
            restorePredecessors(currentNode, grid, pred);
            result.accepted = currentNode;
            result.acceptedStats = cache.statsOf(currentNode);
            return finish(SEARCH_ACCEPTED);
        }
        QNode.del_item(m);
    }
}

}  // namespace ringtrace
