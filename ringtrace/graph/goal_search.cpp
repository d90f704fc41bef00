#include "goal_search.h"

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <queue>
#include <utility>

namespace ringgraph {

namespace {
constexpr int kHopBits = 27;
// Corridor distances are kept in 32 bits.
constexpr int64_t kMaxCorridor = (int64_t{1} << 31) - 2;
constexpr int64_t kNoBound = INT64_MAX / 4;  // a column the source cannot reach
constexpr size_t kPopulatedStateFrom = size_t{1} << 21;  // nodes
constexpr size_t kPopulatedStateUpTo = size_t{1} << 23;
}  // namespace

void goal_search::newRun(size_t n) {
    if (state_.size() != n) {
        // Fresh storage reads as zero: every stamp starts out "not reached", every node
        // outside the corridor.
        state_ = sparse_vector<nodeState>();
        state_.resize(n);
        gen_ = 0;
    }
    if (gen_ >= 0x7ffffffeu) {
        for (nodeState& s : state_) s.stamp = 0;
        gen_ = 0;
    }
    ++gen_;
    heap_.clear();
}

// p per column: the least cost of reaching the column from the source, over a graph of
// columns whose moves cost the cheapest grid edge making that move out of the column.
void goal_search::columnBounds(const lattice& L, const lattice_costs& cost) {
    const int32_t W = L.width(), rows = L.band_rows(), cols = L.band_columns();
    columnBound_.assign(static_cast<size_t>(W) + 2, kNoBound);
    // Cheapest move out of each band column by dx = -1, +1, +2 (dx = 0 stays in the column).
    std::vector<std::array<int64_t, 3>> cheapest(static_cast<size_t>(W), {kNoBound, kNoBound, kNoBound});
    if (const lattice_costs::column_moves* moves = cost.current_column_moves()) {
        for (int32_t x = 1; x <= cols; ++x) {
            if (poll_) poll_();
            const lattice_costs::column_moves& m = moves[x];
            cheapest[static_cast<size_t>(x)] = {m.left, m.right, m.jump};
        }
    } else {
        const uint16_t* c = cols > 0 ? cost.grid_data() : nullptr;
        for (int32_t x = 1; x <= cols; ++x) {
            if (poll_) poll_();
            uint16_t left = 0xffff, right = 0xffff, jump = 0xffff;
            const uint16_t* e = c + L.first_grid_edge(x, 3);
            for (int32_t i = 0; i < rows; ++i, e += 9) {
                right = std::min({right, e[2], e[3], e[4]});
                left = std::min({left, e[5], e[6]});
                jump = std::min({jump, e[7], e[8]});
            }
            cheapest[static_cast<size_t>(x)] = {left, right, jump};
        }
    }
    if (rows > 0 && W > 1) {
        // Column 1 is entered from the source by an edge of cost at least 1.
        using item = std::pair<int64_t, int32_t>;
        std::priority_queue<item, std::vector<item>, std::greater<>> q;
        columnBound_[1] = 1;
        q.emplace(1, 1);
        while (!q.empty()) {
            const auto [d, x] = q.top();
            q.pop();
            if (d != columnBound_[static_cast<size_t>(x)] || x < 1 || x > cols) continue;
            const auto& m = cheapest[static_cast<size_t>(x)];
            const std::pair<int32_t, int64_t> moves[3] = {{x - 1, m[0]}, {x + 1, m[1]}, {x + 2, m[2]}};
            for (const auto& [t, w] : moves) {
                if (w >= kNoBound || t < 0 || t >= W) continue;
                if (d + w < columnBound_[static_cast<size_t>(t)]) {
                    columnBound_[static_cast<size_t>(t)] = d + w;
                    q.emplace(d + w, t);
                }
            }
        }
    }
    columnBound_[static_cast<size_t>(W)] = 0;  // the source terminal
    const int64_t exit = W >= 3 ? columnBound_[static_cast<size_t>(W - 3)] : kNoBound;
    columnBound_[static_cast<size_t>(W) + 1] = exit >= kNoBound ? kNoBound : exit + 1;  // the sink terminal
}

void goal_search::backward(const lattice& L, const lattice_costs& cost) {
    const auto n = static_cast<size_t>(L.number_of_nodes());
    newRun(n);
    const uint32_t reached = 2 * gen_, settled = 2 * gen_ + 1;
    const int32_t W = L.width(), H = L.height(), rows = L.band_rows();
    const int32_t src = L.source_terminal().index, sink = L.sink_terminal().index;
    const uint16_t* gridCost = L.number_of_grid_edges() > 0 ? cost.grid_data() : nullptr;
    nodeState* at = state_.data();
    const int64_t* p = columnBound_.data();

    auto relax = [&](int32_t s, uint64_t k) {
        const uint32_t st = at[s].stamp;
        if (st < reached || (st == reached && k < at[s].key)) {
            at[s].stamp = reached;
            at[s].key = k;
            heap_.push(k, s);
        }
    };

    sourceKnown_ = false;
    sourceDistance_ = kUnreachable;
    int64_t R = kMaxCorridor;
    corridorSettled_ = 0;
    settledOrder_.clear();
    const int64_t pSink = p[W + 1];
    if (pSink < kNoBound) {
        at[sink].stamp = reached;
        at[sink].key = static_cast<uint64_t>(pSink);
        heap_.push(at[sink].key, sink);
    }
    int32_t offset[9];
    for (int j = 0; j < 9; ++j) offset[j] = kLatticeOffsets[j].dx * H + kLatticeOffsets[j].dy;
    while (!heap_.empty()) {
        const radix_heap::entry top = heap_.pop();
        const int32_t u = top.v;
        if (at[u].stamp != reached || at[u].key != top.key) continue;
        if (static_cast<int64_t>(top.key) > R) {
            if (!sourceKnown_) sourceDistance_ = R;  // beyond what the corridor keeps
            break;
        }
        at[u].stamp = settled;
        if ((++corridorSettled_ & 0xffff) == 0 && poll_) poll_();
        int32_t x, y;
        if (u == sink) {
            x = W + 1;
            y = -1;
        } else if (u == src) {
            x = W;
            y = -1;
        } else {
            x = u / H;
            y = u - x * H;
        }
        const int64_t d = static_cast<int64_t>(top.key) - p[x];
        settledOrder_.push_back(u);
        if (u == src) {
            sourceKnown_ = true;
            sourceDistance_ = d;
            R = std::min(kMaxCorridor, d + d * (corridorPerMille_ - 1000) / 1000);
            continue;
        }
        if (u == sink) {
            const int64_t k = d + 1 + p[W - 3];
            for (int32_t i = 0; i < rows; ++i) relax((W - 3) * H + 3 + i, static_cast<uint64_t>(k));
            continue;
        }
        // In-edges: from the band pixels that step onto u, and from the source in column 1.
        for (int j = 0; j < 9; ++j) {
            const int32_t sx = x - kLatticeOffsets[j].dx, sy = y - kLatticeOffsets[j].dy;
            if (sx < 1 || sx > W - 4 || sy < 3 || sy > H - 4) continue;
            const int32_t s = u - offset[j];
            if (at[s].stamp == settled) continue;
            relax(s, static_cast<uint64_t>(d + gridCost[L.first_grid_edge(sx, sy) + j] + p[sx]));
        }
        if (x == 1 && y >= 3 && y <= H - 4) relax(src, static_cast<uint64_t>(d + 1));
    }

    outside_.resize(columnBound_.size());
    for (size_t i = 0; i < columnBound_.size(); ++i) outside_[i] = std::max<int64_t>(R - columnBound_[i], 0);
    keepCorridor(W, H);
}

void goal_search::keepCorridor(int32_t W, int32_t H) {
    const size_t columns = static_cast<size_t>(W) + 2;
    const int32_t terminals = W * H;
    auto columnOf = [&](int32_t v) { return v >= terminals ? W + (v - terminals) : v / H; };
    corridor_.assign(columns, corridorColumn{0, 0, 0});
    std::vector<int32_t> lastRow(columns, INT32_MIN);
    for (const int32_t v : settledOrder_) {
        const int32_t c = columnOf(v), row = v - c * H;
        int32_t& last = lastRow[static_cast<size_t>(c)];
        corridorColumn& k = corridor_[static_cast<size_t>(c)];
        if (last == INT32_MIN) {
            k.first = last = row;
        } else {
            k.first = std::min(k.first, row);
            last = std::max(last, row);
        }
    }
    uint32_t total = 0;
    for (size_t c = 0; c < columns; ++c) {
        if (lastRow[c] == INT32_MIN) continue;
        corridor_[c].rows = static_cast<uint32_t>(lastRow[c] - corridor_[c].first) + 1;
        corridor_[c].start = total;
        total += corridor_[c].rows;
    }
    inside_ = large_vector<uint32_t>();  // fresh: reads as zero between the settled rows
    inside_.resize(total);
    const int64_t* p = columnBound_.data();
    for (const int32_t v : settledOrder_) {
        const int32_t c = columnOf(v), row = v - c * H;
        const corridorColumn& k = corridor_[static_cast<size_t>(c)];
        const int64_t d = static_cast<int64_t>(state_[static_cast<size_t>(v)].key) - p[c];
        inside_[k.start + static_cast<uint32_t>(row - k.first)] = static_cast<uint32_t>(d + 1);
    }
}

void goal_search::prepare(const lattice& L, const lattice_costs& cost) {
    const auto n = static_cast<size_t>(L.number_of_nodes());
    preparedFor_ = nullptr;  // until it is complete
    const bool fresh = state_.size() != n;
    newRun(n);  // a state of the right size (fresh, all zero, when it was not)
    // The runs touch a band of rows in every column, and a page taken by a fault costs many
    // times what it costs populated. Small states are populated anyway (see the allocator).
    // Between kPopulatedStateFrom and kPopulatedStateUpTo nodes the whole state is too: from
    // there on the program's fixed memory is small enough beside the image for it to fit
    // 40 bytes a pixel, and up to there the runs touch enough of it for populating it all to
    // cost less than faulting in what they touch (measured on 2048 x 2048 rings: 40-60 ms
    // less; on 5792 x 5792 rings, whose corridors are a thin share of their columns,
    // populating costs several hundred ms more).
    if (fresh && n >= kPopulatedStateFrom && n < kPopulatedStateUpTo) {
        populate_pages(state_.data(), n * sizeof(nodeState), true);
    }
    columnBounds(L, cost);
    backward(L, cost);
    preparedFor_ = &cost;
    preparedVersion_ = cost.grid_version();
    preparedNodes_ = L.number_of_nodes();
}

int64_t goal_search::potential(const lattice& L, node v) const {
    const int32_t W = L.width(), H = L.height();
    const int32_t column = v == L.source_terminal() ? W : v == L.sink_terminal() ? W + 1 : v.index / H;
    return static_cast<int64_t>(potentialAt(v.index, column, H));
}

bool goal_search::run(const lattice& L, const lattice_costs& cost, node_array<edge>& pred, int64_t cap) {
    const auto n = static_cast<size_t>(L.number_of_nodes());
    if (pred.size() != n) pred.init_for_overwrite(L);
    return forward<true>(L, cost, pred.data(), cap);
}

bool goal_search::run_path(const lattice& L, const lattice_costs& cost, std::vector<edge>& path, int64_t cap) {
    path.clear();
    if (!forward<false>(L, cost, nullptr, cap)) return false;
    tracePath(L, cost, path);
    return true;
}

void goal_search::tracePath(const lattice& L, const lattice_costs& cost, std::vector<edge>& path) const {
    const uint32_t settled = 2 * gen_ + 1;
    const int32_t W = L.width(), H = L.height();
    const int32_t src = L.source_terminal().index, sink = L.sink_terminal().index;
    const int32_t terminalBase = L.number_of_grid_edges();
    const uint16_t* gridCost = terminalBase > 0 ? cost.grid_data() : nullptr;
    const int* terminalCost = cost.terminal_data();
    const nodeState* at = state_.data();
    // What a relaxation out of settled node u (in column `column`) adds to: its key less its
    // potential, plus one edge.
    auto base = [&](int32_t u, int32_t column) { return at[u].key - (potentialAt(u, column, H) << kHopBits) + 1; };
    int32_t v = sink;
    while (v != src) {
        const uint64_t key = at[v].key;
        int32_t best = -1, from = -1;
        auto consider = [&](int32_t u, int32_t column, int32_t e, uint64_t wh) {
            if (at[u].stamp != settled || (best >= 0 && e >= best)) return;
            if (base(u, column) + (wh << kHopBits) == key) {
                best = e;
                from = u;
            }
        };
        if (v == sink) {
            for (int32_t i = 0; i < L.band_rows(); ++i) {
                const int32_t t = 2 * i + 1;
                consider((W - 3) * H + 3 + i, W - 3, terminalBase + t, static_cast<uint64_t>(terminalCost[t]));
            }
        } else {
            const int32_t x = v / H, y = v - x * H;
            const uint64_t hv = potentialAt(v, x, H);
            for (int j = 0; j < 9; ++j) {
                const int32_t sx = x - kLatticeOffsets[j].dx, sy = y - kLatticeOffsets[j].dy;
                if (sx < 1 || sx > W - 4 || sy < 3 || sy > H - 4) continue;
                const int32_t e = L.first_grid_edge(sx, sy) + j;
                consider(sx * H + sy, sx, e, uint64_t{gridCost[e]} + hv);
            }
            if (x == 1 && y >= 3 && y <= H - 4) {
                const int32_t t = 2 * (y - 3);
                consider(src, W, terminalBase + t, static_cast<uint64_t>(terminalCost[t]) + hv);
            }
        }
        if (best < 0) break;  // cannot happen for a settled node other than the source
        path.push_back(edge{best});
        v = from;
    }
}

template <bool WritePred>
bool goal_search::forward(const lattice& L, const lattice_costs& cost, edge* p, int64_t cap) {
    const auto n = static_cast<size_t>(L.number_of_nodes());
    newRun(n);
    const uint32_t reached = 2 * gen_, settled = 2 * gen_ + 1;
    settled_ = 0;

    const int32_t W = L.width(), H = L.height(), rows = L.band_rows();
    const int32_t src = L.source_terminal().index, sink = L.sink_terminal().index;
    const int32_t terminalBase = L.number_of_grid_edges();
    const uint16_t* gridCost = terminalBase > 0 ? cost.grid_data() : nullptr;
    const int* terminalCost = cost.terminal_data();
    nodeState* at = state_.data();
    const int64_t* outside = outside_.data();
    int32_t offset[9];
    for (int j = 0; j < 9; ++j) offset[j] = kLatticeOffsets[j].dx * H + kLatticeOffsets[j].dy;

    // `base` is the tail's (g << kHopBits) + its edge count + 1; `wh` is the edge's cost
    // plus the head's potential.
    auto relax = [&](uint64_t base, int32_t v, int32_t e, uint64_t wh) {
        const uint64_t kv = base + (wh << kHopBits);
        const uint32_t s = at[v].stamp;
        if (s < reached) {
            at[v].stamp = reached;
            at[v].key = kv;
            if constexpr (WritePred) p[v] = edge{e};
            heap_.push(kv, v);
        } else if (kv < at[v].key) {
            at[v].key = kv;
            if constexpr (WritePred) p[v] = edge{e};
            heap_.push(kv, v);
        } else if constexpr (WritePred) {
            if (kv == at[v].key && e < p[v].index) p[v] = edge{e};
        }
    };
    auto h = [&](int32_t v, int32_t column) -> uint64_t {
        const uint32_t in = insideAt(v, column, H);
        return in != 0 ? uint64_t{in} - 1 : static_cast<uint64_t>(outside[column]);
    };

    at[src].stamp = reached;
    at[src].key = h(src, W) << kHopBits;
    if constexpr (WritePred) p[src] = nil;
    heap_.push(at[src].key, src);
    while (!heap_.empty()) {
        const radix_heap::entry top = heap_.pop();
        const int32_t u = top.v;
        if (at[u].stamp != reached || at[u].key != top.key) continue;  // settled, or a stale entry
        const auto f = static_cast<int64_t>(top.key >> kHopBits);
        if (f > cap) {
            distance_ = f;
            return false;
        }
        at[u].stamp = settled;
        if ((++settled_ & 0xffff) == 0 && poll_) poll_();
        if (u == sink) {
            distance_ = f;
            return true;
        }
        if (u == src) {
            const uint64_t base = top.key - (h(src, W) << kHopBits) + 1;
            for (int32_t i = 0; i < rows; ++i) {
                const int32_t v = 1 * H + 3 + i;
                if (at[v].stamp == settled) continue;
                relax(base, v, terminalBase + 2 * i, static_cast<uint64_t>(terminalCost[2 * i]) + h(v, 1));
            }
            continue;
        }
        const int32_t x = u / H, y = u - x * H;
        if (y < 3 || y > H - 4) continue;
        const uint64_t base = top.key - (h(u, x) << kHopBits) + 1;
        if (x >= 1 && x <= W - 4) {
            const int32_t e0 = L.first_grid_edge(x, y);
            const uint16_t* c = gridCost + e0;
            for (int j = 0; j < 9; ++j) {
                const int32_t v = u + offset[j];
                if (at[v].stamp == settled) continue;
                relax(base, v, e0 + j, uint64_t{c[j]} + h(v, x + kLatticeOffsets[j].dx));
            }
        } else if (x == W - 3) {
            const int32_t t = 2 * (y - 3) + 1;
            if (at[sink].stamp != settled) relax(base, sink, terminalBase + t, static_cast<uint64_t>(terminalCost[t]));
        }
    }
    distance_ = kUnreachable;
    return false;
}

}  // namespace ringgraph
