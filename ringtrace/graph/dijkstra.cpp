#include "dijkstra.h"

#include <cassert>
#include <limits>

namespace ringgraph {

namespace {
constexpr int32_t kUnseen = -1;
constexpr int32_t kSettled = -2;
}  // namespace

void dijkstra_engine::siftUp(int32_t pos) {
    const int32_t v = heap_[static_cast<std::size_t>(pos)];
    const key k = key_[static_cast<std::size_t>(v)];
    while (pos > 0) {
        const int32_t parent = (pos - 1) >> 1;
        const int32_t pv = heap_[static_cast<std::size_t>(parent)];
        if (!less(k, key_[static_cast<std::size_t>(pv)])) break;
        heap_[static_cast<std::size_t>(pos)] = pv;
        pos_[static_cast<std::size_t>(pv)] = pos;
        pos = parent;
    }
    heap_[static_cast<std::size_t>(pos)] = v;
    pos_[static_cast<std::size_t>(v)] = pos;
}

void dijkstra_engine::push(int32_t v) {
    heap_.push_back(v);
    siftUp(static_cast<int32_t>(heap_.size() - 1));
}

int32_t dijkstra_engine::popMin() {
    const int32_t top = heap_[0];
    const int32_t last = heap_.back();
    heap_.pop_back();
    const auto n = static_cast<int32_t>(heap_.size());
    if (n > 0) {
        // Move the hole down from the root, then drop the last element into it.
        const key k = key_[static_cast<std::size_t>(last)];
        int32_t pos = 0;
        for (;;) {
            int32_t child = 2 * pos + 1;
            if (child >= n) break;
            if (child + 1 < n && less(key_[static_cast<std::size_t>(heap_[static_cast<std::size_t>(child + 1)])],
                                      key_[static_cast<std::size_t>(heap_[static_cast<std::size_t>(child)])])) {
                ++child;
            }
            const int32_t cv = heap_[static_cast<std::size_t>(child)];
            if (!less(key_[static_cast<std::size_t>(cv)], k)) break;
            heap_[static_cast<std::size_t>(pos)] = cv;
            pos_[static_cast<std::size_t>(cv)] = pos;
            pos = child;
        }
        heap_[static_cast<std::size_t>(pos)] = last;
        pos_[static_cast<std::size_t>(last)] = pos;
    }
    pos_[static_cast<std::size_t>(top)] = kSettled;
    return top;
}

void dijkstra_engine::run(const graph& G, node s, const edge_array<int>& cost,
                          node_array<edge>& pred, node target, node_array<int>* dist) {
    const auto n = static_cast<std::size_t>(G.number_of_nodes());
    key_.resize(n);
    pos_.assign(n, kUnseen);
    heap_.clear();
    settled_ = 0;
    if (pred.size() != n) pred.init(G, nil);
    pred.fill(nil);

    const int32_t* firstOut = G.firstOutData();
    const int32_t* nextOut = G.nextOutData();
    const int32_t* head = G.targetData();
    const int* c = cost.data();
    const auto costCount = static_cast<int32_t>(cost.size());
    const int costDefault = cost.default_value();
    edge* p = pred.data();

    key_[static_cast<std::size_t>(s.index)] = key{0, 0};
    push(s.index);
    while (!heap_.empty()) {
        const int32_t u = popMin();
        ++settled_;
        const key ku = key_[static_cast<std::size_t>(u)];
        if (dist != nullptr) {
            (*dist)[node{u}] = static_cast<int>(
                ku.dist > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : ku.dist);
        }
        if (u == target.index) break;
        for (int32_t e = firstOut[u]; e >= 0; e = nextOut[e]) {
            const int32_t v = head[e];
            const int32_t state = pos_[static_cast<std::size_t>(v)];
            if (state == kSettled) continue;
            // Edges created after the cost array last grew cost the array's default.
            const int w = e < costCount ? c[e] : costDefault;
            assert(w >= 0);
            const key kv{ku.dist + w, ku.hops + 1};
            key& cur = key_[static_cast<std::size_t>(v)];
            if (state == kUnseen) {
                cur = kv;
                p[v] = edge{e};
                push(v);
            } else if (less(kv, cur)) {
                cur = kv;
                p[v] = edge{e};
                siftUp(state);
            } else if (kv.dist == cur.dist && kv.hops == cur.hops && e < p[v].index) {
                p[v] = edge{e};
            }
        }
    }
}

int64_t dijkstra_engine::distance(node v) const {
    const auto i = static_cast<std::size_t>(v.index);
    return i < pos_.size() && pos_[i] == kSettled ? key_[i].dist : -1;
}

void DIJKSTRA(const graph& G, node s, const edge_array<int>& cost, node_array<int>& dist,
              node_array<edge>& pred) {
    dijkstra_engine engine;
    if (dist.size() != static_cast<std::size_t>(G.number_of_nodes())) dist.init(G, 0);
    engine.run(G, s, cost, pred, nil, &dist);
}

}  // namespace ringgraph
