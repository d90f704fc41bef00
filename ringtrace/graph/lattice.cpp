#include "lattice.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>

namespace ringgraph {

void lattice::reset(int32_t width, int32_t height) {
    W_ = width;
    H_ = height;
    cols_ = width >= 5 && height >= 7 ? width - 4 : 0;
    rows_ = height >= 7 ? height - 6 : 0;
    const int64_t gridEdges = cols_ > 0 ? 9 * int64_t{cols_} * rows_ : 0;
    if (int64_t{width} * height + 2 > INT32_MAX || gridEdges + 2 * int64_t{rows_} > INT32_MAX) {
        throw std::length_error("lattice: too many nodes or edges for 32-bit ids");
    }
    terminalBase_ = static_cast<int32_t>(gridEdges);
    if (cols_ == 0) terminalBase_ = 0;
}

node lattice::source(edge e) const {
    if (e.index >= terminalBase_) {
        const int32_t t = e.index - terminalBase_;
        return (t & 1) == 0 ? source_terminal() : node{(W_ - 3) * H_ + 3 + t / 2};
    }
    const int32_t k = e.index / 9;
    return node{(k / rows_ + 1) * H_ + k % rows_ + 3};
}

node lattice::target(edge e) const {
    if (e.index >= terminalBase_) {
        const int32_t t = e.index - terminalBase_;
        return (t & 1) == 0 ? node{1 * H_ + 3 + t / 2} : sink_terminal();
    }
    const lattice_offset o = kLatticeOffsets[e.index % 9];
    return node{source(e).index + o.dx * H_ + o.dy};
}

edge lattice::first_out_edge(node v) const {
    if (v == source_terminal()) return rows_ > 0 ? edge{terminalBase_} : nil;
    if (v == sink_terminal()) return nil;
    const int32_t x = v.index / H_, y = v.index % H_;
    if (y < 3 || y > H_ - 4) return nil;
    if (x >= 1 && x <= W_ - 4) return edge{first_grid_edge(x, y)};
    if (x == W_ - 3) return edge{terminalBase_ + 2 * (y - 3) + 1};
    return nil;
}

edge lattice::next_out_edge(edge e) const {
    if (e.index >= terminalBase_) {
        // Source edges follow each other two ids apart; a sink edge is its node's last.
        const int32_t t = e.index - terminalBase_;
        return (t & 1) == 0 && t + 2 < 2 * rows_ ? edge{e.index + 2} : nil;
    }
    // A grid node's nine edges are consecutive; an active node is never in the exit column.
    return e.index % 9 < 8 ? edge{e.index + 1} : nil;
}

int lattice::inEdges(int32_t id, int32_t out[10]) const {
    const int32_t x = id / H_, y = id % H_;
    int n = 0;
    for (int j = 0; j < 9; ++j) {
        const int32_t sx = x - kLatticeOffsets[j].dx, sy = y - kLatticeOffsets[j].dy;
        if (sx >= 1 && sx <= W_ - 4 && sy >= 3 && sy <= H_ - 4) out[n++] = first_grid_edge(sx, sy) + j;
    }
    if (x == 1 && y >= 3 && y <= H_ - 4) out[n++] = terminalBase_ + 2 * (y - 3);
    std::sort(out, out + n);
    return n;
}

edge lattice::first_in_edge(node v) const {
    if (v == sink_terminal()) return rows_ > 0 ? edge{terminalBase_ + 1} : nil;
    if (v == source_terminal()) return nil;
    int32_t in[10];
    return inEdges(v.index, in) > 0 ? edge{in[0]} : nil;
}

edge lattice::next_in_edge(edge e) const {
    if (e.index >= terminalBase_ && ((e.index - terminalBase_) & 1) == 1) {
        const int32_t t = e.index - terminalBase_;
        return t + 2 < 2 * rows_ ? edge{e.index + 2} : nil;
    }
    int32_t in[10];
    const int n = inEdges(target(e).index, in);
    for (int i = 0; i + 1 < n; ++i) {
        if (in[i] == e.index) return edge{in[i + 1]};
    }
    return nil;
}

void lattice_costs::init(const lattice& L, int def) {
    assert(def >= 0 && def <= 0xffff);
    gridCount_ = L.number_of_grid_edges();
    def_ = def;
    materialised_ = false;
    gridVersion_ = nextVersion();
    grid_.clear();
    grid_.resize(static_cast<size_t>(gridCount_));  // left unwritten until written or asked for
    terminal_.assign(static_cast<size_t>(L.number_of_edges() - gridCount_), def);
    moves_.clear();
}

std::size_t lattice_costs::spareOffset() const {
    // On a cache-line boundary (the holders store words and vectors there, and an odd count
    // of 16-bit costs would leave the tail misaligned), and kept clear of the entries by a
    // further line, so that no wide store at the end of the costs ever reaches the holder.
    const std::size_t have = grid_.capacity() * sizeof(uint16_t);
    return (have + 63) / 64 * 64 + 64;
}

std::byte* lattice_costs::spareStart() const {
    if (grid_.capacity() == 0) return nullptr;
    return const_cast<std::byte*>(reinterpret_cast<const std::byte*>(grid_.data())) + spareOffset();
}

std::byte* lattice_costs::claim_spare(std::size_t bytes) {
    const std::size_t have = grid_.capacity() * sizeof(uint16_t);
    // Below the huge-page blocks the allocator hands out exactly what was asked for.
    if (spareClaimed_ || have < kWholeHugePagesFrom) return nullptr;
    const std::size_t used = spareOffset();
    const std::size_t mapped = mapped_size(have);
    if (mapped < used || mapped - used < bytes) return nullptr;
    spareClaimed_ = true;
    return spareStart();
}

void lattice_costs::materialise() {
    if (materialised_) return;
    std::fill(grid_.begin(), grid_.end(), static_cast<uint16_t>(def_));
    materialised_ = true;
}

void lattice_costs::set(edge e, int v) {
    if (e.index < gridCount_) {
        assert(v >= 0 && v <= 0xffff);
        gridVersion_ = nextVersion();
        materialise();
        grid_[static_cast<size_t>(e.index)] = static_cast<uint16_t>(v);
    } else {
        terminal_[static_cast<size_t>(e.index - gridCount_)] = v;
    }
}

}  // namespace ringgraph
