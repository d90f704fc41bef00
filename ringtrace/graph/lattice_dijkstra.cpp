#include "lattice_dijkstra.h"

#include <algorithm>

namespace ringgraph {

namespace {
constexpr int kHopBits = 27;
// Heap order for the current bucket: least key on top.
constexpr auto kLater = [](const auto& a, const auto& b) { return a.key > b.key; };
}  // namespace

void lattice_dijkstra::push(uint64_t key, int32_t v) {
    const uint64_t d = key >> kHopBits;
    if (d - current_ < static_cast<uint64_t>(kRing)) {
        std::vector<entry>& b = ring_[d & (kRing - 1)];
        b.push_back(entry{key, v});
        if (heapified_ && d == current_) std::push_heap(b.begin(), b.end(), kLater);
        ++inRing_;
    } else {
        overflow_.push_back(entry{key, v});
        overflowLeast_ = std::min(overflowLeast_, d);
    }
}

void lattice_dijkstra::admitOverflow() {
    uint64_t least = UINT64_MAX;
    size_t kept = 0;
    for (const entry& e : overflow_) {
        const uint64_t d = e.key >> kHopBits;
        if (d - current_ < static_cast<uint64_t>(kRing)) {
            ring_[d & (kRing - 1)].push_back(e);
            ++inRing_;
        } else {
            overflow_[kept++] = e;
            least = std::min(least, d);
        }
    }
    overflow_.resize(kept);
    overflowLeast_ = least;
}

bool lattice_dijkstra::pop(entry& out) {
    for (;;) {
        std::vector<entry>& b = ring_[current_ & (kRing - 1)];
        if (!b.empty()) {
            if (ordered_) {
                if (!heapified_) {
                    std::make_heap(b.begin(), b.end(), kLater);
                    heapified_ = true;
                }
                std::pop_heap(b.begin(), b.end(), kLater);
            }
            out = b.back();
            b.pop_back();
            --inRing_;
            return true;
        }
        heapified_ = false;
        if (inRing_ == 0) {
            if (overflow_.empty()) return false;
            current_ = overflowLeast_;
        } else {
            ++current_;
        }
        if (!overflow_.empty() && overflowLeast_ - current_ < static_cast<uint64_t>(kRing)) admitOverflow();
    }
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
    for (auto& b : ring_) b.clear();
    overflow_.clear();
    overflowLeast_ = UINT64_MAX;
    current_ = 0;
    heapified_ = false;
    inRing_ = 0;
    settled_ = 0;
    ordered_ = cost.has_zero();
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
    entry top;
    while (pop(top)) {
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
