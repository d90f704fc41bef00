#pragma once

// Comparator networks for the median of a window whose columns are already
// sorted. Each column of the source is sorted once and then serves every
// output whose window holds it (a column of a maskWidth-wide window belongs
// to maskWidth neighbouring outputs), so what each output still has to do is
// to select rank k / 2 from maskWidth sorted columns of maskHeight values.
//
// That selection first sorts the rows of the column-sorted window (the
// values of equal rank across its columns), which leaves rows and columns
// sorted: the value in row i, place j has at least (i + 1)(j + 1) values at
// or below it and (maskHeight - i)(maskWidth - j) at or above it. It may
// then sort the anti-diagonals too; the k-th smallest of a diagonal lies at
// or above some k + 1 of its cells, so at or above all that those cells
// were known to lie above. Values thus certainly below or above rank k / 2
// drop out; the rest are merged by odd-even merges of their sorted pieces,
// or sorted outright by the odd-even merge sort, and the whole network is
// pruned backwards from the wanted output like the plain selection
// networks. Of these variants the one with the fewest operations is kept.
//
// Wires: wire i * maskWidth + j holds rank i (from the smallest) of the
// window's column j.

#include <cstdint>
#include <initializer_list>

#include "selection_network.h"

namespace mediankernels {

inline constexpr int kMaxSortedColumnExtent = 16;
inline constexpr int kMaxSortedColumnWires = 128;
// Comparators before pruning: the row sorts and the final merges.
inline constexpr int kSortedColumnCapacity = 4096;

struct SortedColumnNetwork {
    int maskWidth = 0, maskHeight = 0;
    // Sorts one column of maskHeight values, pruned to the ranks used.
    Comparator columnSort[kMaxSortedColumnExtent * kMaxSortedColumnExtent]{};
    int columnSortSize = 0;
    // The ranks of the sorted columns that the window network reads.
    bool rankUsed[kMaxSortedColumnExtent]{};
    // On the window's wires; the median ends on wire `output`.
    Comparator comparators[kSortedColumnCapacity]{};
    int size = 0;
    int output = 0;
};

namespace sorted_column_detail {

template <int Capacity>
struct ListOf {
    Comparator list[Capacity]{};
    int size = 0;
    constexpr void add(int low, int high) {
        list[size++] = {static_cast<uint16_t>(low), static_cast<uint16_t>(high), CompareKind::kBoth};
    }
};
using Builder = ListOf<kSortedColumnCapacity>;
// The sort of one line: at most n (n - 1) / 2 comparators.
using LineBuilder = ListOf<kMaxSortedColumnExtent * kMaxSortedColumnExtent / 2>;

// Batcher's odd-even merge over `seq` (positions lo, lo + r, ... of a run of
// n), where -1 marks padding known to lie above every value: comparators that
// touch padding are resolved here and never emitted.
constexpr void oddEvenMerge(int* seq, int lo, int n, int r, Builder& out) {
    const int step = r * 2;
    const auto compare = [&](int i, int j) {
        if (seq[j] < 0) return;
        if (seq[i] < 0) {
            seq[i] = seq[j];
            seq[j] = -1;
            return;
        }
        out.add(seq[i], seq[j]);
    };
    if (step < n) {
        oddEvenMerge(seq, lo, n, step, out);
        oddEvenMerge(seq, lo + r, n, step, out);
        for (int i = lo + r; i + r < lo + n; i += step) compare(i, i + r);
    } else {
        compare(lo, lo + r);
    }
}

// Merges the sorted wire lists a and b into `merged` (na + nb wires, in order).
constexpr void mergeLists(const int* a, int na, const int* b, int nb, int* merged, Builder& out) {
    int m = 1;
    while (m < na || m < nb) m *= 2;
    int seq[2 * kMaxSortedColumnWires]{};
    for (int i = 0; i < m; ++i) seq[i] = i < na ? a[i] : -1;
    for (int i = 0; i < m; ++i) seq[m + i] = i < nb ? b[i] : -1;
    oddEvenMerge(seq, 0, 2 * m, 1, out);
    int k = 0;
    for (int i = 0; i < 2 * m; ++i) {
        if (seq[i] >= 0) merged[k++] = seq[i];
    }
}

constexpr int cost(const Comparator* list, int size) {
    int ops = 0;
    for (int i = 0; i < size; ++i) ops += list[i].kind == CompareKind::kBoth ? 2 : 1;
    return ops;
}

// Ways to sort a line of n values; which prunes best depends on the ranks
// of the line that are wanted.
enum class LineSort { kMergeSort, kMergeSortMirrored, kInsertion, kInsertionMirrored };

template <typename Visit>
constexpr void forEachLineComparator(LineSort kind, int n, Visit visit) {
    const bool mirrored =
        kind == LineSort::kMergeSortMirrored || kind == LineSort::kInsertionMirrored;
    const auto emit = [&](int a, int b) {
        if (mirrored) {
            visit(n - 1 - b, n - 1 - a);
        } else {
            visit(a, b);
        }
    };
    if (kind == LineSort::kMergeSort || kind == LineSort::kMergeSortMirrored) {
        forEachSortingComparator(n, emit);
        return;
    }
    for (int i = 1; i < n; ++i) {
        for (int j = i; j > 0; --j) emit(j - 1, j);
    }
}

// Lines of wires (rows or diagonals), each sorted by one stage.
struct Lines {
    int wires[2 * kMaxSortedColumnExtent][kMaxSortedColumnExtent]{};
    int size[2 * kMaxSortedColumnExtent]{};
    int count = 0;
};

// Appends to `out` the sorts of every line, each of the kind that prunes
// cheapest to the wires `needed` after it; then marks in `needed` the wires
// the kept comparators read.
constexpr void sortLines(const Lines& lines, bool* needed, Builder& out) {
    Builder stage;
    for (int l = 0; l < lines.count; ++l) {
        const int* w = lines.wires[l];
        LineSort best = LineSort::kMergeSort;
        int bestCost = -1;
        for (LineSort kind : {LineSort::kMergeSort, LineSort::kMergeSortMirrored,
                              LineSort::kInsertion, LineSort::kInsertionMirrored}) {
            LineBuilder one;
            forEachLineComparator(kind, lines.size[l], [&](int x, int y) { one.add(w[x], w[y]); });
            bool probe[kMaxSortedColumnWires]{};
            for (int i = 0; i < kMaxSortedColumnWires; ++i) probe[i] = needed[i];
            const int c = cost(one.list, pruneTo(one.list, one.size, probe, one.list));
            if (bestCost < 0 || c < bestCost) best = kind, bestCost = c;
        }
        forEachLineComparator(best, lines.size[l], [&](int x, int y) { stage.add(w[x], w[y]); });
    }
    stage.size = pruneTo(stage.list, stage.size, needed, stage.list);
    for (int c = 0; c < stage.size; ++c) out.list[out.size++] = stage.list[c];
}

// Wire sets as bit masks.
struct WireSet {
    uint64_t bits[2]{};
    constexpr void add(int w) { bits[w / 64] |= uint64_t{1} << (w % 64); }
    constexpr void join(const WireSet& o) {
        bits[0] |= o.bits[0];
        bits[1] |= o.bits[1];
    }
    constexpr int size() const {
        int n = 0;
        for (uint64_t b : bits) {
            b = b - ((b >> 1) & 0x5555555555555555u);
            b = (b & 0x3333333333333333u) + ((b >> 2) & 0x3333333333333333u);
            b = (b + (b >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
            n += static_cast<int>((b * 0x0101010101010101u) >> 56);
        }
        return n;
    }
};

// What is known of the k-th smallest of a sorted line from what was known of
// its n cells before: it lies at or above some k + 1 of them, so at or above
// the least union of their sets over every k + 1 cells. least[k] receives
// that size for k + 1 cells.
constexpr void leastUnions(const WireSet* sets, int n, int* least) {
    for (int k = 0; k < n; ++k) least[k] = -1;
    for (uint32_t pick = 1; pick < (1u << n); ++pick) {
        WireSet all;
        int cells = 0;
        for (int i = 0; i < n; ++i) {
            if (pick >> i & 1) all.join(sets[i]), ++cells;
        }
        const int size = all.size();
        if (least[cells - 1] < 0 || size < least[cells - 1]) least[cells - 1] = size;
    }
}

// The window network with or without the diagonal stage, the candidates
// finished by `merge` (true: merges of their sorted pieces; false: the
// odd-even merge sort of all of them).
constexpr int windowNetwork(int mw, int mh, bool diagonals, bool merge, SortedColumnNetwork& net) {
    const int count = mw * mh, rank = count / 2;
    const auto wire = [mw](int i, int j) { return i * mw + j; };
    Lines rows, diagonalLines;
    for (int i = 0; i < mh; ++i) {
        for (int j = 0; j < mw; ++j) rows.wires[i][j] = wire(i, j);
        rows.size[i] = mw;
    }
    rows.count = mh;
    // What is known after the rows: values at or below and at or above each wire.
    int atOrBelow[kMaxSortedColumnWires]{}, atOrAbove[kMaxSortedColumnWires]{};
    for (int i = 0; i < mh; ++i) {
        for (int j = 0; j < mw; ++j) {
            atOrBelow[wire(i, j)] = (i + 1) * (j + 1);
            atOrAbove[wire(i, j)] = (mh - i) * (mw - j);
        }
    }
    if (diagonals) {
        for (int d = 0; d < mw + mh - 1; ++d) {
            int n = 0;
            WireSet downs[kMaxSortedColumnExtent], ups[kMaxSortedColumnExtent];
            for (int i = 0; i < mh; ++i) {
                const int j = d - i;
                if (j < 0 || j >= mw) continue;
                diagonalLines.wires[diagonalLines.count][n] = wire(i, j);
                for (int a = 0; a < mh; ++a) {
                    for (int b = 0; b < mw; ++b) {
                        if (a <= i && b <= j) downs[n].add(wire(a, b));
                        if (a >= i && b >= j) ups[n].add(wire(a, b));
                    }
                }
                ++n;
            }
            int leastDown[kMaxSortedColumnExtent]{}, leastUp[kMaxSortedColumnExtent]{};
            leastUnions(downs, n, leastDown);
            leastUnions(ups, n, leastUp);
            for (int k = 0; k < n; ++k) {
                const int w = diagonalLines.wires[diagonalLines.count][k];
                atOrBelow[w] = leastDown[k];
                atOrAbove[w] = leastUp[n - 1 - k];
            }
            diagonalLines.size[diagonalLines.count++] = n;
        }
    }
    // Candidates in sorted pieces (pieces of the last sorted lines), and
    // how many values lie certainly below rank k / 2.
    const Lines& last = diagonals ? diagonalLines : rows;
    int lists[2 * kMaxSortedColumnExtent][kMaxSortedColumnWires]{};
    int sizes[2 * kMaxSortedColumnExtent]{};
    int pieces = 0, below = 0, candidates = 0;
    int all[kMaxSortedColumnWires]{};
    for (int l = 0; l < last.count; ++l) {
        sizes[pieces] = 0;
        for (int k = 0; k < last.size[l]; ++k) {
            const int w = last.wires[l][k];
            if (atOrBelow[w] - 1 > rank) continue;
            if (atOrAbove[w] - 1 > count - 1 - rank) {
                ++below;
                continue;
            }
            lists[pieces][sizes[pieces]++] = w;
            all[candidates++] = w;
        }
        if (sizes[pieces] > 0) ++pieces;
    }
    const int wanted = rank - below;
    Builder finish;
    int output = 0;
    if (merge) {
        // Merge neighbouring pieces pairwise until one sorted list is left.
        while (pieces > 1) {
            int next = 0;
            for (int i = 0; i + 1 < pieces; i += 2) {
                int merged[kMaxSortedColumnWires]{};
                mergeLists(lists[i], sizes[i], lists[i + 1], sizes[i + 1], merged, finish);
                sizes[next] = sizes[i] + sizes[i + 1];
                for (int k = 0; k < sizes[next]; ++k) lists[next][k] = merged[k];
                ++next;
            }
            if (pieces % 2 == 1) {
                sizes[next] = sizes[pieces - 1];
                for (int k = 0; k < sizes[next]; ++k) lists[next][k] = lists[pieces - 1][k];
                ++next;
            }
            pieces = next;
        }
        output = lists[0][wanted];
    } else {
        forEachSortingComparator(candidates, [&](int x, int y) { finish.add(all[x], all[y]); });
        output = all[wanted];
    }
    // Stages from the last: each pruned to what the next reads.
    bool needed[kMaxSortedColumnWires]{};
    needed[output] = true;
    finish.size = pruneTo(finish.list, finish.size, needed, finish.list);
    Builder diagonalStage, rowStage;
    if (diagonals) sortLines(diagonalLines, needed, diagonalStage);
    sortLines(rows, needed, rowStage);
    // Each stage is already pruned to what the next one reads.
    net.size = 0;
    for (const Builder* stage : {&rowStage, &diagonalStage, &finish}) {
        for (int c = 0; c < stage->size; ++c) net.comparators[net.size++] = stage->list[c];
    }
    net.output = output;
    return cost(net.comparators, net.size);
}

}  // namespace sorted_column_detail

// The network for a maskWidth x maskHeight window of sorted columns.
constexpr SortedColumnNetwork makeSortedColumnNetwork(int mw, int mh) {
    using namespace sorted_column_detail;
    SortedColumnNetwork net;
    int best = -1;
    for (bool diagonals : {false, true}) {
        for (bool merge : {false, true}) {
            SortedColumnNetwork trial;
            const int c = windowNetwork(mw, mh, diagonals, merge, trial);
            if (best < 0 || c < best) best = c, net = trial;
        }
    }
    net.maskWidth = mw;
    net.maskHeight = mh;
    // The ranks read: every wire a comparator touches, and the output.
    net.rankUsed[net.output / mw] = true;
    for (int c = 0; c < net.size; ++c) {
        net.rankUsed[net.comparators[c].low / mw] = true;
        net.rankUsed[net.comparators[c].high / mw] = true;
    }
    Builder columns;
    forEachSortingComparator(mh, [&](int x, int y) { columns.add(x, y); });
    bool needed[kMaxSortedColumnWires]{};
    for (int i = 0; i < mh; ++i) needed[i] = net.rankUsed[i];
    net.columnSortSize = pruneTo(columns.list, columns.size, needed, net.columnSort);
    return net;
}

}  // namespace mediankernels
