// The graph component: shortest paths against an independent brute force, the documented
// tie-break, and the queue's handles and order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <queue>
#include <random>
#include <vector>

#include "graph/dijkstra.h"
#include "graph/integer.h"
#include "graph/large_allocator.h"
#include "graph/p_queue.h"
#include "graph/radix_heap.h"

using namespace ringgraph;

namespace {

struct randomGraph {
    graph G;
    edge_array<int> cost;
    std::vector<node> nodes;
};

void makeRandom(randomGraph& r, std::mt19937& rng, int n, int m, int maxCost) {
    for (int i = 0; i < n; ++i) r.nodes.push_back(r.G.new_node());
    r.cost.init(r.G, 0);
    std::uniform_int_distribution<int> pick(0, n - 1), price(0, maxCost);
    for (int i = 0; i < m; ++i) {
        const edge e = r.G.new_edge(r.nodes[static_cast<size_t>(pick(rng))], r.nodes[static_cast<size_t>(pick(rng))]);
        r.cost[e] = price(rng);  // zero-cost edges and self-loops included
    }
}

// Bellman-Ford on (distance, edge count) keys, then the earliest tight edge: the rule the
// shortest-path routine promises, computed without a queue.
std::vector<edge> referencePred(const randomGraph& r, node s, std::vector<int64_t>& dist) {
    const int n = r.G.number_of_nodes();
    constexpr int64_t inf = std::numeric_limits<int64_t>::max();
    dist.assign(static_cast<size_t>(n), inf);
    std::vector<int64_t> hops(static_cast<size_t>(n), inf);
    dist[static_cast<size_t>(s.index)] = 0;
    hops[static_cast<size_t>(s.index)] = 0;
    for (bool changed = true; changed;) {
        changed = false;
        for (edge e = r.G.first_edge(); e != r.G.stop_edge(); e = r.G.next_edge(e)) {
            const auto u = static_cast<size_t>(r.G.source(e).index), v = static_cast<size_t>(r.G.target(e).index);
            if (dist[u] == inf) continue;
            const int64_t d = dist[u] + r.cost[e], h = hops[u] + 1;
            if (d < dist[v] || (d == dist[v] && h < hops[v])) {
                dist[v] = d;
                hops[v] = h;
                changed = true;
            }
        }
    }
    std::vector<edge> pred(static_cast<size_t>(n), nil);
    for (edge e = r.G.first_edge(); e != r.G.stop_edge(); e = r.G.next_edge(e)) {
        const auto u = static_cast<size_t>(r.G.source(e).index), v = static_cast<size_t>(r.G.target(e).index);
        if (dist[u] == inf || static_cast<int>(v) == s.index) continue;
        if (dist[u] + r.cost[e] == dist[v] && hops[u] + 1 == hops[v] && pred[v] == nil) pred[v] = e;
    }
    return pred;
}

}  // namespace

TEST(Dijkstra, MatchesBruteForceOnRandomGraphs) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        randomGraph r;
        const int n = 1 + static_cast<int>(rng() % 40);
        makeRandom(r, rng, n, static_cast<int>(rng() % (3 * n + 1)), round % 3 == 0 ? 1 : 9);
        const node s = r.nodes[rng() % r.nodes.size()];
        node_array<int> dist;
        node_array<edge> pred;
        DIJKSTRA(r.G, s, r.cost, dist, pred);

        std::vector<int64_t> refDist;
        const std::vector<edge> refPred = referencePred(r, s, refDist);
        for (node v = r.G.first_node(); v != r.G.stop_node(); v = r.G.next_node(v)) {
            const auto i = static_cast<size_t>(v.index);
            ASSERT_EQ(pred[v], refPred[i]) << "round " << round << " node " << v.index;
            if (refDist[i] != std::numeric_limits<int64_t>::max()) {
                EXPECT_EQ(dist[v], refDist[i]);
            }
        }
        EXPECT_EQ(pred[s], nil);
    }
}

TEST(Dijkstra, StoppingAtTargetGivesTheSamePathAsAFullRun) {
    std::mt19937 rng(99);
    for (int round = 0; round < 200; ++round) {
        randomGraph r;
        makeRandom(r, rng, 30, 90, 5);
        const node s = r.nodes[0], t = r.nodes[29];
        node_array<edge> full, early;
        dijkstra_engine engine;
        engine.run(r.G, s, r.cost, full);
        engine.run(r.G, s, r.cost, early, t);
        for (node v = t; full[v] != nil; v = r.G.source(full[v])) ASSERT_EQ(early[v], full[v]);
        if (full[t] == nil) {
            EXPECT_EQ(early[t], nil);
        }
    }
}

TEST(Dijkstra, PrefersFewerEdgesThenEarliestEdge) {
    graph G;
    const node a = G.new_node(), b = G.new_node(), c = G.new_node(), d = G.new_node();
    edge_array<int> cost(G, 0);
    const edge ab = G.new_edge(a, b), bd = G.new_edge(b, d);
    const edge ad2 = G.new_edge(a, d);  // same cost as a-b-d, fewer edges
    const edge ac = G.new_edge(a, c), cd = G.new_edge(c, d);
    cost[ab] = 1;
    cost[bd] = 1;
    cost[ad2] = 2;
    cost[ac] = 1;
    cost[cd] = 1;
    const edge ad1 = G.new_edge(a, d);  // equally good, created later: loses
    cost[ad1] = 2;
    node_array<int> dist;
    node_array<edge> pred;
    DIJKSTRA(G, a, cost, dist, pred);
    EXPECT_EQ(pred[d], ad2);
    EXPECT_EQ(pred[b], ab);
    EXPECT_EQ(pred[c], ac);
}

TEST(Dijkstra, UnreachableNodesAndZeroCostCyclesLeaveNil) {
    graph G;
    const node a = G.new_node(), b = G.new_node(), c = G.new_node(), lonely = G.new_node();
    edge_array<int> cost(G, 0);
    G.new_edge(a, b);
    G.new_edge(b, c);
    G.new_edge(c, b);
    G.new_edge(c, a);
    cost.grow();
    node_array<int> dist;
    node_array<edge> pred;
    DIJKSTRA(G, a, cost, dist, pred);
    EXPECT_EQ(pred[a], nil);
    EXPECT_EQ(pred[lonely], nil);
    EXPECT_EQ(G.source(pred[c]), b);
    EXPECT_EQ(G.source(pred[b]), a);
}

TEST(GraphArrays, AdjacencyKeepsCreationOrderAndArraysCoverLaterEdges) {
    graph G;
    const node a = G.new_node(), b = G.new_node();
    edge_array<int> cost(G, 7);
    const edge e1 = G.new_edge(a, b), e2 = G.new_edge(b, a), e3 = G.new_edge(a, a);
    EXPECT_EQ(cost[e3], 7);
    cost[e2] = 3;
    EXPECT_EQ(cost[e1], 7);
    EXPECT_EQ(G.first_out_edge(a), e1);
    EXPECT_EQ(G.next_out_edge(e1), e3);
    EXPECT_EQ(G.next_out_edge(e3), nil);
    EXPECT_EQ(G.first_in_edge(a), e2);
    EXPECT_EQ(G.next_in_edge(e2), e3);
    EXPECT_EQ(G.opposite(e2, a), b);
    EXPECT_EQ(G.opposite(e3, a), a);

    node_array<int> ids(G, 1);
    const node c = G.new_node();
    ids.init(G);
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids[c], 1);
    node_array<int> copy;
    copy = ids;
    copy[c] = 5;
    EXPECT_EQ(ids[c], 1);
    EXPECT_EQ(copy.get_graph(), &G);
}

TEST(PriorityQueue, DrainsInKeyOrderFirstInFirstOutAmongEquals) {
    p_queue<integer, int> q;
    std::mt19937 rng(7);
    std::vector<std::pair<int, int>> expected;
    for (int i = 0; i < 500; ++i) {
        const int key = static_cast<int>(rng() % 50) - 25;
        q.insert(integer(key), i);
        expected.emplace_back(key, i);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    for (const auto& [key, value] : expected) {
        const auto it = q.find_min();
        ASSERT_EQ(q.prio(it).value(), key);
        ASSERT_EQ(q.inf(it), value);
        q.del_item(it);
    }
    EXPECT_EQ(q.size(), 0);
    EXPECT_FALSE(q.find_min());
}

TEST(PriorityQueue, RadixHeapDrainsLargeQueuesInKeyOrderAndAgainAfterClearing) {
    // Enough entries for the buckets to outgrow the heap's small blocks and take populated
    // ones, pushed and popped in turn as a search does; the second round reuses the buckets.
    radix_heap q;
    std::mt19937 rng(11);
    for (int round = 0; round < 2; ++round) {
        q.clear();
        std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> reference;
        uint64_t last = 0;
        for (int i = 0; i < 300000; ++i) {
            const int pushes = static_cast<int>(rng() % 3);
            for (int k = 0; k < pushes; ++k) {
                const uint64_t key = last + rng() % 5000;
                q.push(key, i);
                reference.push(key);
            }
            if (!reference.empty() && rng() % 2 == 0) {
                ASSERT_EQ(q.pop().key, reference.top()) << "round " << round << " step " << i;
                last = reference.top();
                reference.pop();
            }
        }
        while (!reference.empty()) {
            ASSERT_EQ(q.pop().key, reference.top());
            reference.pop();
        }
        EXPECT_TRUE(q.empty());
    }
}

// The radix heap as plainly as it can be written: one growing vector per bucket, refilled by
// a plain scan. The heap must give the very same entries in the very same order, equal keys
// included (a run's counts depend on which of them comes first).
class vectorRadixHeap {
public:
    void clear() {
        for (auto& b : buckets_) b.clear();
        last_ = 0;
        size_ = 0;
    }
    bool empty() const { return size_ == 0; }
    void push(uint64_t key, int32_t v) {
        buckets_[bucketOf(key)].push_back(radix_heap::entry{key, v});
        ++size_;
    }
    radix_heap::entry pop() {
        if (buckets_[0].empty()) {
            int i = 1;
            while (buckets_[i].empty()) ++i;
            std::vector<radix_heap::entry> from;
            from.swap(buckets_[i]);
            uint64_t least = from.front().key;
            for (const auto& e : from) least = std::min(least, e.key);
            last_ = least;
            for (const auto& e : from) buckets_[bucketOf(e.key)].push_back(e);
        }
        const radix_heap::entry e = buckets_[0].back();
        buckets_[0].pop_back();
        --size_;
        return e;
    }

private:
    int bucketOf(uint64_t key) const { return key == last_ ? 0 : 64 - __builtin_clzll(key ^ last_); }
    std::vector<radix_heap::entry> buckets_[65];
    uint64_t last_ = 0;
    int64_t size_ = 0;
};

TEST(PriorityQueue, RadixHeapGivesThePlainBucketOrder) {
    std::mt19937 rng(5);
    radix_heap q;
    for (int round = 0; round < 4; ++round) {
        // Rounds of few entries and of many (buckets growing and draining again); narrow key
        // spreads make many ties.
        const int steps = round % 2 == 0 ? 300 : 200000;
        const uint64_t spread = round < 2 ? 4 : 1u << 20;
        q.clear();
        vectorRadixHeap reference;
        uint64_t last = 0;
        for (int i = 0; i < steps; ++i) {
            const int pushes = static_cast<int>(rng() % 3);
            for (int k = 0; k < pushes; ++k) {
                const uint64_t key = last + rng() % spread;
                q.push(key, i * 4 + k);
                reference.push(key, i * 4 + k);
            }
            if (!reference.empty() && rng() % 2 == 0) {
                const radix_heap::entry a = q.pop(), b = reference.pop();
                ASSERT_EQ(a.key, b.key) << "round " << round << " step " << i;
                ASSERT_EQ(a.v, b.v) << "round " << round << " step " << i;
                last = b.key;
            }
        }
        while (!reference.empty()) {
            ASSERT_FALSE(q.empty());
            const radix_heap::entry a = q.pop(), b = reference.pop();
            ASSERT_EQ(a.key, b.key) << "round " << round;
            ASSERT_EQ(a.v, b.v) << "round " << round;
        }
        EXPECT_TRUE(q.empty());
    }
}

TEST(PriorityQueue, DeletingAnItemKeepsOtherHandlesValid) {
    p_queue<integer, int> q;
    std::vector<p_queue<integer, int>::item> items;
    for (int i = 0; i < 64; ++i) items.push_back(q.insert(integer((i * 37) % 64), i));
    std::mt19937 rng(3);
    std::vector<int> alive(64);
    for (int i = 0; i < 64; ++i) alive[static_cast<size_t>(i)] = i;
    std::shuffle(alive.begin(), alive.end(), rng);
    for (size_t k = 0; k < 40; ++k) q.del_item(items[static_cast<size_t>(alive[k])]);
    for (size_t k = 40; k < 64; ++k) {
        const auto it = items[static_cast<size_t>(alive[k])];
        EXPECT_EQ(q.inf(it), alive[k]);
        EXPECT_EQ(q.prio(it).value(), (alive[k] * 37) % 64);
    }
    // New items reuse freed slots without disturbing the survivors.
    for (int i = 0; i < 10; ++i) q.insert(integer(-i), 100 + i);
    EXPECT_EQ(q.inf(q.find_min()), 109);
    int seen = 0;
    for (auto it = q.first_item(); it; it = q.next_item(it)) ++seen;
    EXPECT_EQ(seen, q.size());
    EXPECT_EQ(q.size(), 34);
}

TEST(PriorityQueue, IntegerKeysCompareExactly) {
    EXPECT_LT(integer(std::numeric_limits<int>::min()), integer(-1));
    EXPECT_LT(integer(100000000), integer(std::numeric_limits<int>::max()));
    EXPECT_EQ(integer(5), integer(5));
}

TEST(PriorityQueue, ChangedPrioritiesKeepTheirPlaceAmongEquals) {
    // Items filed under a lower key and later raised to their real key come out exactly
    // where items inserted with the real key would: by key, then by insertion.
    std::mt19937 rng(19);
    for (int round = 0; round < 20; ++round) {
        p_queue<integer, int> q;
        std::vector<int> real;
        std::vector<p_queue<integer, int>::item> items;
        for (int i = 0; i < 200; ++i) {
            real.push_back(static_cast<int>(rng() % 20));
            const int filed = rng() % 3 == 0 ? real.back() - static_cast<int>(rng() % 5) : real.back();
            items.push_back(q.insert(integer(filed), i));
        }
        std::vector<int> order(200);
        for (int i = 0; i < 200; ++i) order[static_cast<size_t>(i)] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return real[static_cast<size_t>(a)] < real[static_cast<size_t>(b)]; });
        for (const int expected : order) {
            // Raise the least item to its real key until the least one is filed under it.
            auto it = q.find_min();
            while (q.prio(it).value() != real[static_cast<size_t>(q.inf(it))]) {
                q.change_prio(it, integer(real[static_cast<size_t>(q.inf(it))]));
                it = q.find_min();
            }
            ASSERT_EQ(q.inf(it), expected) << "round " << round;
            q.del_item(it);
        }
        EXPECT_EQ(q.size(), 0);
    }
}

// Blocks from the huge page threshold up start at a huge page boundary and are writable to
// their rounded-up end; sizes that cannot be rounded up are refused, not wrapped round.
TEST(LargeBlocks, AlignedWholeHugePagesAndNoWrapRound) {
    using namespace ringgraph;
    for (const std::size_t bytes : {kWholeHugePagesFrom - 1, kWholeHugePagesFrom, kHugePage + 1, 3 * kHugePage}) {
        auto* p = static_cast<unsigned char*>(map_block(bytes));
        ASSERT_NE(p, nullptr) << bytes;
        const std::size_t mapped = mapped_size(bytes);
        EXPECT_GE(mapped, bytes);
        if (bytes >= kWholeHugePagesFrom) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % kHugePage, 0u) << bytes;
            EXPECT_EQ(mapped % kHugePage, 0u) << bytes;
        }
        p[0] = 1;
        p[mapped - 1] = 2;
        EXPECT_EQ(p[0] + p[mapped - 1], 3);
        unmap_block(p, bytes);
    }
    for (const std::size_t bytes : {SIZE_MAX, SIZE_MAX - kHugePage, SIZE_MAX - 2 * kHugePage + 1}) {
        EXPECT_EQ(map_block(bytes), nullptr) << bytes;
    }
}
