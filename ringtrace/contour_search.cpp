#include "contour_search.h"

#include <climits>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "graph/integer.h"
#include "graph/p_queue.h"

namespace ringtrace {

namespace {

using ringgraph::goal_search;
using ringgraph::integer;

// What the search knows of one interval's evaluation. While the grid costs stay fixed an
// evaluation is a pure function of its interval, so each interval has one, shared by every
// search node of that interval. It is exact, or, while its run was given up at a cap, only
// a lower bound on the path cost.
struct intervalEvaluation {
    branchNode record;  // lo and hi from the start, the rest once exact
    evaluationStats stats;
    bool exact = false;
    int64_t cost = 0;                     // the exact path cost once exact (-1: unknown), a lower bound before
    int64_t cap = -1;                     // the cap at which the last run was given up
    int32_t entryRow = -1, exitRow = -1;  // of the path, once exact (-1: no path)
};

// Makes the evaluations of the search tree's nodes, as cheaply as the tree allows.
class treeEvaluator {
public:
    treeEvaluator(pathEvaluator& evaluator, const pixelGrid& grid) : evaluator_(evaluator), grid_(grid) {}

    // The root: all rows, never evaluated; its path cost is the one of the cheapest open path.
    std::shared_ptr<intervalEvaluation> root() {
        auto e = std::make_shared<intervalEvaluation>();
        e->record = branchNode(1, grid_.height, ROOT_PATH_COST, false);
        e->record.rowSum = ROOT_ROW_SUM;
        e->exact = true;
        int64_t open = 0;
        e->cost = evaluator_.openPathCost(open) && open >= 0 ? open : -1;
        return e;
    }

    std::shared_ptr<intervalEvaluation> child(const intervalEvaluation& parent, int32_t lo, int32_t hi) {
        ++calls_;
        std::shared_ptr<intervalEvaluation>& known = cache_[std::make_pair(lo, hi)];
        if (!known) {
            known = std::make_shared<intervalEvaluation>();
            known->record = branchNode(lo, hi, 0, false);
        }
        intervalEvaluation& e = *known;
        if (e.exact) return known;
        if (holdsPath(parent, lo, hi)) {
            e.record = parent.record;
            e.record.lo = lo;
            e.record.hi = hi;
            e.stats = parent.stats;
            e.cost = parent.cost;
            e.entryRow = parent.entryRow;
            e.exitRow = parent.exitRow;
            e.exact = true;
            ++reused_;
            return known;
        }
        // A narrow child's record is read by its insertion test at once: no point in a cap.
        const int64_t cap = hi - lo < 2 ? goal_search::kUncapped : capBelow(parent);
        if (cap > e.cap) evaluate(e, cap);
        return known;
    }

    void finish(intervalEvaluation& e) {
        evaluate(e, goal_search::kUncapped);
        ++finishedLater_;
    }

    int64_t calls() const { return calls_; }
    int64_t reused() const { return reused_; }
    int64_t finishedLater() const { return finishedLater_; }

private:
    // Whether the parent's path enters and leaves within [lo, hi].
    static bool holdsPath(const intervalEvaluation& parent, int32_t lo, int32_t hi) {
        return parent.exact && parent.entryRow >= 0 && parent.entryRow >= lo && parent.entryRow <= hi &&
               parent.exitRow >= lo && parent.exitRow <= hi;
    }

    // The cap for a child's first run: its parent's cost plus 1 %. A child costs at least
    // what its parent does and, since it could take the parent's path, at most that plus two
    // blocked terminal edges; where that sum might not fit the 32-bit path cost (whose
    // wrapped value is the queue key) the child is evaluated exactly.
    static int64_t capBelow(const intervalEvaluation& parent) {
        if (parent.cost < 0 || parent.cost + 2 * int64_t{BLOCKED_COST} > INT32_MAX) return goal_search::kUncapped;
        return parent.cost + parent.cost / 100;
    }

    void evaluate(intervalEvaluation& e, int64_t cap) {
        branchNode record(e.record.lo, e.record.hi, 0, false);
        evaluationStats stats;
        int64_t cost = 0;
        if (!evaluator_.evaluateWithin(e.record.lo, e.record.hi, cap, record, stats, cost)) {
            e.cost = cost;
            e.cap = cap;
            return;
        }
        e.record = std::move(record);
        e.stats = stats;
        e.cost = cost;
        e.exact = true;
        const std::vector<edge>& path = *e.record.predecessors;
        if (path.size() >= 2) {
            e.exitRow = grid_.rowOf(grid_.A[grid_.G.source(path.front())]);
            e.entryRow = grid_.rowOf(grid_.A[grid_.G.target(path.back())]);
        }
    }

    pathEvaluator& evaluator_;
    const pixelGrid& grid_;
    std::map<std::pair<int32_t, int32_t>, std::shared_ptr<intervalEvaluation>> cache_;
    int64_t calls_ = 0;
    int64_t reused_ = 0;
    int64_t finishedLater_ = 0;
};

// A node of the search tree. Its record and statistics are those of its interval's
// evaluation; reading them finishes an evaluation that was given up.
class searchNode {
public:
    searchNode() = default;
    searchNode(std::shared_ptr<intervalEvaluation> e, treeEvaluator& tree) : e_(std::move(e)), tree_(&tree) {}

    int32_t lo() const { return e_->record.lo; }
    int32_t hi() const { return e_->record.hi; }
    bool exact() const { return e_->exact; }
    int64_t costBound() const { return e_->cost; }
    const branchNode& record() const {
        if (!e_->exact) tree_->finish(*e_);
        return e_->record;
    }
    const evaluationStats& stats() const {
        if (!e_->exact) tree_->finish(*e_);
        return e_->stats;
    }
    const intervalEvaluation& evaluation() const { return *e_; }

private:
    std::shared_ptr<intervalEvaluation> e_;
    treeEvaluator* tree_ = nullptr;
};

// The open nodes: least key first and, among equal keys, the first inserted. A child's key
// is its path cost. A child whose evaluation was given up is filed under its cost's lower
// bound; whenever such a node is the least, it is finished and refiled under its exact cost
// in its original place among equal keys before anything is taken. Every other key is at
// most the exact one, so find_min returns what a queue of exact keys returns.
class nodeQueue {
public:
    using item = ringgraph::pq_item;

    item insert(const integer& prio, const searchNode& n) { return file(prio, n, false); }
    item insert(const searchNode& child) {
        if (child.exact()) return file(integer(child.record().pathCost), child, false);
        return file(integer(static_cast<int>(child.costBound())), child, true);
    }

    item find_min() {
        for (;;) {
            const item m = q_.find_min();
            if (!m || !provisional_[static_cast<size_t>(m.slot)]) return m;
            q_.change_prio(m, integer(q_.inf(m).record().pathCost));
            provisional_[static_cast<size_t>(m.slot)] = false;
        }
    }
    const searchNode& inf(item m) const { return q_.inf(m); }
    const integer& prio(item m) const { return q_.prio(m); }
    void del_item(item m) { q_.del_item(m); }
    int size() const { return q_.size(); }

private:
    item file(const integer& prio, const searchNode& n, bool provisional) {
        const item m = q_.insert(prio, n);
        if (provisional_.size() <= static_cast<size_t>(m.slot)) provisional_.resize(static_cast<size_t>(m.slot) + 1);
        provisional_[static_cast<size_t>(m.slot)] = provisional;
        return m;
    }

    ringgraph::p_queue<integer, searchNode> q_;
    std::vector<bool> provisional_;  // by item slot: filed under a lower bound
};

bool failsInsertion(const searchNode& child) {
    if (child.hi() - child.lo() >= 2) return false;
    const branchNode& record = child.record();
    const evaluationStats& latest = child.stats();
    return record.rowSum < 0 || record.rowSum > ROW_SUM_BOUND || latest.dispersion > DISPERSION_LIMIT ||
           latest.secondaryMean < 0.0f;
}

// `latest` is the node whose evaluation was the most recent one; its statistics are read
// only when the node's own tests pass.
bool passesAcceptance(const branchNode& node, const searchNode& latest) {
    return node.closed && node.rowSum > 0 && node.rowSum < ROW_SUM_BOUND &&
           latest.stats().dispersion < DISPERSION_LIMIT && latest.stats().secondaryMean > 0.0f;
}

// The search, restoring the accepted contour into `pred` where one is given.
searchResult searchContourInto(pathEvaluator& evaluator, const pixelGrid& grid, ringgraph::node_array<edge>* pred,
                               int64_t iterationLimit, const progressCallback& progress) {
    searchResult result;
    const int64_t runsBefore = evaluator.shortestPathRuns();
    const int64_t settledBefore = evaluator.nodesSettled() + evaluator.potentialNodes();
    treeEvaluator tree(evaluator, grid);
    auto finish = [&](int outcome) {
        result.searchOutcome = outcome;
        result.evaluations = tree.calls();
        result.shortestPathRuns = evaluator.shortestPathRuns() - runsBefore;
        result.nodesSettled = evaluator.nodesSettled() + evaluator.potentialNodes() - settledBefore;
        result.reusedPaths = tree.reused();
        result.finishedLater = tree.finishedLater();
        return result;
    };

    nodeQueue QNode;
    const searchNode rootNode(tree.root(), tree);
    searchNode currentNode = rootNode;
    QNode.insert(integer(ROOT_PRIORITY), currentNode);

    for (;;) {
        if (result.iterations >= iterationLimit) {
            result.cutShort = true;
            return finish(SEARCH_EXHAUSTED);
        }
        ++result.iterations;
        const int32_t mid = currentNode.lo() + (currentNode.hi() - currentNode.lo()) / 2;

        const searchNode HighChild(tree.child(currentNode.evaluation(), mid, currentNode.hi()), tree);
        if (QNode.size() == 0) return finish(SEARCH_EXHAUSTED);
        if (!failsInsertion(HighChild)) QNode.insert(HighChild);

        const searchNode LowChild(tree.child(currentNode.evaluation(), currentNode.lo(), mid), tree);
        if (!failsInsertion(LowChild)) QNode.insert(LowChild);

        const auto m = QNode.find_min();
        if (QNode.size() == 0) return finish(SEARCH_EXHAUSTED);
        if (progress) {
            const branchNode& best = QNode.inf(m).record();
            progress(searchProgress{result.iterations, evaluator.shortestPathRuns() - runsBefore, true, best.lo,
                                    best.hi, QNode.prio(m).value()});
        }
        currentNode = QNode.inf(m);
        // The statistics are the latest evaluation's (the low half's), not the node's own.
        if (passesAcceptance(currentNode.record(), LowChild)) {
            if (pred != nullptr) restorePredecessors(currentNode.record(), grid, *pred);
            result.accepted = currentNode.record();
            result.latest = LowChild.stats();
            result.acceptedStats = currentNode.stats();
            return finish(SEARCH_ACCEPTED);
        }
        QNode.del_item(m);
    }
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
    return searchContourInto(evaluator, grid, &pred, iterationLimit, progress);
}

searchResult searchContour(pathEvaluator& evaluator, const pixelGrid& grid, int64_t iterationLimit,
                           const progressCallback& progress) {
    return searchContourInto(evaluator, grid, nullptr, iterationLimit, progress);
}

}  // namespace ringtrace
