#include "lattice_dijkstra.h"

#include <algorithm>

namespace ringgraph {

namespace {
constexpr int kHopBits = 27;
inline int bucketOf(uint64_t key, uint64_t last) { return key == last ? 0 : 64 - __builtin_clzll(key ^ last); }
}  // namespace

void lattice_dijkstra::push(uint64_t key, int32_t v) {
    buckets_[bucketOf(key, last_)].push_back(entry{key, v});
    ++size_;
}

lattice_dijkstra::entry lattice_dijkstra::pop() {
    if (buckets_[0].empty()) {
        int i = 1;
        while (buckets_[i].empty()) ++i;
        std::vector<entry>& b = buckets_[i];
        uint64_t least = b[0].key;
        for (const entry& e : b) least = std::min(least, e.key);
        last_ = least;
        for (const entry& e : b) buckets_[bucketOf(e.key, last_)].push_back(e);
        b.clear();
    }
    const entry e = buckets_[0].back();
    buckets_[0].pop_back();
    --size_;
    return e;
}

void lattice_dijkstra::run(const lattice& L, const lattice_costs& cost, node_array<edge>& pred, node target) {
    const auto n = static_cast<size_t>(L.number_of_nodes());
    if (key_.size() != n) {
        // Fresh storage reads as zero: every stamp starts out "not reached".
        key_ = large_vector<uint64_t>();
        stamp_ = large_vector<uint32_t>();
        key_.resize(n);
        stamp_.resize(n);
        gen_ = 0;
    }
    if (gen_ >= 0x7ffffffeu) {
        std::fill(stamp_.begin(), stamp_.end(), 0u);
        gen_ = 0;
    }
    ++gen_;
    const uint32_t reached = 2 * gen_, settled = 2 * gen_ + 1;
    for (auto& b : buckets_) b.clear();
    last_ = 0;
    size_ = 0;
    settled_ = 0;
    // Entries of nodes this run does not reach are never read, so no per-run reset.
    if (pred.size() != n) pred.init_for_overwrite(L);

    const int32_t W = L.width(), H = L.height(), rows = L.band_rows();
    const int32_t src = L.source_terminal().index, sink = L.sink_terminal().index;
    const int32_t terminalBase = L.number_of_grid_edges();
    const uint16_t* gridCost = cost.grid_data();
    const int* terminalCost = cost.terminal_data();
    uint64_t* key = key_.data();
    uint32_t* stamp = stamp_.data();
    edge* p = pred.data();
    int32_t offset[9];
    for (int j = 0; j < 9; ++j) offset[j] = kLatticeOffsets[j].dx * H + kLatticeOffsets[j].dy;

    auto relax = [&](uint64_t ku, int32_t v, int32_t e, int w) {
        const uint64_t kv = ku + (static_cast<uint64_t>(w) << kHopBits) + 1;
        const uint32_t s = stamp[v];
        if (s < reached) {
            stamp[v] = reached;
            key[v] = kv;
            p[v] = edge{e};
            push(kv, v);
        } else if (s == reached) {
            if (kv < key[v]) {
                key[v] = kv;
                p[v] = edge{e};
                push(kv, v);
            } else if (kv == key[v] && e < p[v].index) {
                p[v] = edge{e};
            }
        }
    };

    stamp[src] = reached;
    key[src] = 0;
    p[src] = nil;
    push(0, src);
    while (size_ > 0) {
        const entry top = pop();
        const int32_t u = top.v;
        if (stamp[u] != reached || key[u] != top.key) continue;  // settled, or a stale entry
        stamp[u] = settled;
        ++settled_;
        if (u == target.index) break;
        const uint64_t ku = top.key;
        if (u == src) {
            for (int32_t i = 0; i < rows; ++i) relax(ku, 1 * H + 3 + i, terminalBase + 2 * i, terminalCost[2 * i]);
            continue;
        }
        if (u == sink) continue;
        const int32_t x = u / H, y = u - x * H;
        if (y < 3 || y > H - 4) continue;
        if (x >= 1 && x <= W - 4) {
            const int32_t e0 = L.first_grid_edge(x, y);
            const uint16_t* c = gridCost + e0;
            for (int j = 0; j < 9; ++j) relax(ku, u + offset[j], e0 + j, c[j]);
        } else if (x == W - 3) {
            const int32_t t = 2 * (y - 3) + 1;
            relax(ku, sink, terminalBase + t, terminalCost[t]);
        }
    }
}

int64_t lattice_dijkstra::distance(node v) const {
    const auto i = static_cast<size_t>(v.index);
    if (i >= stamp_.size() || stamp_[i] != 2 * gen_ + 1) return -1;
    return static_cast<int64_t>(key_[i] >> kHopBits);
}

}  // namespace ringgraph
