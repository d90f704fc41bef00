// The pixel graph without stored edges.
//
// The tracer's graph is regular: one node per pixel (id x * height + y), a source and a sink
// terminal, nine edges out of every pixel of the active band (columns 1..width-4, rows
// 3..height-4) and one terminal edge pair per active row. Everything about it (ends of an
// edge, adjacency, edge ids) follows from arithmetic, so it is computed instead of stored.
// Ids are exactly those an explicit build creates, node by node and edge by edge in the
// fixed creation order, so every id-based rule (tie-breaks included) is unchanged.
//
// Edge ids: grid edges first, nine per active pixel in creation order (pixel k of the band,
// counted down each column, owns ids 9k..9k+8); then terminal edges, source-to-(1, y) and
// (width-3, y)-to-sink interleaved per active row.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "handles.h"
#include "large_allocator.h"

namespace ringgraph {

struct lattice_offset {
    int dx, dy;
};
inline constexpr lattice_offset kLatticeOffsets[9] = {{0, +1},  {0, -1},  {+1, +1}, {+1, 0}, {+1, -1},
                                                      {-1, +1}, {-1, -1}, {+2, -1}, {+2, +1}};

class lattice : public sequential_ids<lattice> {
public:
    lattice() = default;
    lattice(int32_t width, int32_t height) { reset(width, height); }
    void reset(int32_t width, int32_t height);

    int32_t width() const { return W_; }
    int32_t height() const { return H_; }
    int number_of_nodes() const { return W_ * H_ + 2; }
    int number_of_edges() const { return terminalBase_ + 2 * rows_; }
    int number_of_grid_edges() const { return terminalBase_; }
    node source_terminal() const { return node{W_ * H_}; }
    node sink_terminal() const { return node{W_ * H_ + 1}; }

    // Active band: pixels with grid edges out of them.
    int32_t band_columns() const { return cols_; }
    int32_t band_rows() const { return rows_; }
    bool in_band(int32_t id) const {
        if (id >= W_ * H_) return false;
        const int32_t x = id / H_, y = id % H_;
        return x >= 1 && x <= W_ - 4 && y >= 3 && y <= H_ - 4;
    }
    // First edge id of an active pixel.
    int32_t first_grid_edge(int32_t x, int32_t y) const { return 9 * ((x - 1) * rows_ + (y - 3)); }

    node source(edge e) const;
    node target(edge e) const;
    node opposite(edge e, node v) const {
        const node s = source(e);
        return s == v ? target(e) : s;
    }

    // Adjacency in creation order, as an explicit build would list it.
    edge first_out_edge(node v) const;
    edge next_out_edge(edge e) const;
    edge stop_out_edge() const { return nil; }
    edge first_in_edge(node v) const;
    edge next_in_edge(edge e) const;
    edge stop_in_edge() const { return nil; }

private:
    // In-edges of a grid node, ascending ids; returns the count.
    int inEdges(int32_t id, int32_t out[10]) const;

    int32_t W_ = 0, H_ = 0;
    int32_t cols_ = 0, rows_ = 0;   // active band size (0 when there is none)
    int32_t terminalBase_ = 0;      // first terminal edge id
};

// Edge costs of a lattice: grid edges hold 0..65535 in two bytes each (the tracer's costs
// run 0..2001), terminal edges a full int.
class lattice_costs {
public:
    class reference {
    public:
        reference(lattice_costs& c, int32_t e) : c_(c), e_(e) {}
        reference& operator=(int v) {
            c_.set(edge{e_}, v);
            return *this;
        }
        operator int() const { return c_.get(edge{e_}); }  // NOLINT: behaves like an int&

    private:
        lattice_costs& c_;
        int32_t e_;
    };

    // Every entry at `def`. The grid entries are only written out when somebody writes or
    // asks for their storage, so a pass that overwrites them all pays for one write.
    void init(const lattice& L, int def);
    int get(edge e) const {
        if (e.index >= gridCount_) return terminal_[static_cast<size_t>(e.index - gridCount_)];
        return materialised_ ? grid_[static_cast<size_t>(e.index)] : def_;
    }
    void set(edge e, int v);
    int operator[](edge e) const { return get(e); }
    reference operator[](edge e) { return reference(*this, e.index); }

    uint16_t* grid_data() {
        materialise();
        gridVersion_ = nextVersion();
        return grid_.data();
    }
    const uint16_t* grid_data() const {
        const_cast<lattice_costs*>(this)->materialise();
        return grid_.data();
    }
    // Storage for a caller that writes every grid entry itself.
    uint16_t* grid_data_for_overwrite() {
        materialised_ = true;
        gridVersion_ = nextVersion();
        return grid_.data();
    }
    // Changes with every change of the grid-edge costs (every write, and every hand-out of
    // writable storage), to a value no cost table has had before: what was worked out from
    // the costs can tell when it is out of date.
    uint64_t grid_version() const { return gridVersion_; }
    const int* terminal_data() const { return terminal_.data(); }

    // The least grid cost of each move out of each band column, by dx = -1, +1 and +2, for
    // a writer that works it out on its way through the costs (a search's bounds need it,
    // and a second pass over every cost to find it costs more than the minima do). Entry x
    // is column x (entry 0 unused). It belongs to the costs as they are when it is handed
    // over: any later change to them drops it.
    struct column_moves {
        uint16_t left, right, jump;
    };
    void set_column_moves(std::vector<column_moves> moves) {
        moves_ = std::move(moves);
        movesVersion_ = gridVersion_;
    }
    // The table for the costs as they are now, or nullptr when there is none.
    const column_moves* current_column_moves() const {
        return movesVersion_ == gridVersion_ && !moves_.empty() ? moves_.data() : nullptr;
    }
    int32_t grid_count() const { return gridCount_; }

    // The grid costs' block is mapped in whole huge pages, so past its last entry lie bytes
    // that are mapped (and populated) all the same: a phase may hold a short-lived array
    // there instead of paying for fresh pages of its own (at 720 x 400 the tail is about
    // 1 MB). One holder at a time: claim_spare returns null when the tail is shorter than
    // `bytes` or already claimed. The bytes hold whatever was there; they stay valid until
    // release_spare, through an init for a lattice of at most the same size (a larger one
    // may move the block). Nothing of the costs lives there.
    std::byte* claim_spare(std::size_t bytes);
    void release_spare(const std::byte* p) {
        if (p != nullptr && p == spareStart()) spareClaimed_ = false;
    }

private:
    std::size_t spareOffset() const;
    std::byte* spareStart() const;
    void materialise();
    static uint64_t nextVersion() {
        static std::atomic<uint64_t> last{0};
        return ++last;
    }

    int32_t gridCount_ = 0;
    int def_ = 0;
    bool materialised_ = false;
    uint64_t gridVersion_ = 0;
    overwrite_vector<uint16_t> grid_;  // read only once written (materialised_)
    std::vector<int> terminal_;
    std::vector<column_moves> moves_;
    uint64_t movesVersion_ = 0;  // no cost table has version 0
    bool spareClaimed_ = false;
};

}  // namespace ringgraph
