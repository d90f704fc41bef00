#pragma once

// Comparator networks for the median of a window whose columns are already
// sorted. Each column of the source is sorted once and then serves every
// output whose window holds it (a column of a maskWidth-wide window belongs
// to maskWidth neighbouring outputs), so what each output still has to do is
// to select rank k / 2 from maskWidth sorted columns of maskHeight values.
//
// That selection sorts the rows of the column-sorted window (the values of
// equal rank across its columns), after which every value has at least
// (i + 1)(j + 1) values at or below it and (maskHeight - i)(maskWidth - j)
// at or above it (i its row, j its place in the row). Values that are thus
// certainly below or above rank k / 2 drop out; the rest (a band along the
// anti-diagonal) are merged by odd-even merges of their sorted row pieces,
// or sorted outright by the odd-even merge sort when that is shorter, and the
// whole network is pruned backwards from the wanted output like the plain
// selection networks.
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

struct Builder {
    Comparator list[kSortedColumnCapacity]{};
    int size = 0;
    constexpr void add(int low, int high) {
        list[size++] = {static_cast<uint16_t>(low), static_cast<uint16_t>(high), CompareKind::kBoth};
    }
};

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

// Keeps the comparators of `in` that lead to a wanted wire, each reduced to
// the half that is wanted; returns the count written to `out`.
constexpr int pruneTo(const Comparator* in, int size, bool* needed, Comparator* out) {
    int kept = 0;
    Comparator reversed[kSortedColumnCapacity]{};
    for (int c = size - 1; c >= 0; --c) {
        const Comparator cmp = in[c];
        const bool wantMin = needed[cmp.low], wantMax = needed[cmp.high];
        if (!wantMin && !wantMax) continue;
        needed[cmp.low] = needed[cmp.high] = true;
        const CompareKind kind = wantMin && wantMax ? CompareKind::kBoth
                                 : wantMin          ? CompareKind::kMinOnly
                                                    : CompareKind::kMaxOnly;
        reversed[kept++] = {cmp.low, cmp.high, kind};
    }
    for (int i = 0; i < kept; ++i) out[i] = reversed[kept - 1 - i];
    return kept;
}

constexpr int cost(const Comparator* list, int size) {
    int ops = 0;
    for (int i = 0; i < size; ++i) ops += list[i].kind == CompareKind::kBoth ? 2 : 1;
    return ops;
}

// Ways to sort a row of n values; which prunes best depends on the ranks
// of the row that are wanted.
enum class RowSort { kMergeSort, kMergeSortMirrored, kInsertion, kInsertionMirrored };

template <typename Visit>
constexpr void forEachRowComparator(RowSort kind, int n, Visit visit) {
    const bool mirrored = kind == RowSort::kMergeSortMirrored || kind == RowSort::kInsertionMirrored;
    const auto emit = [&](int a, int b) {
        if (mirrored) {
            visit(n - 1 - b, n - 1 - a);
        } else {
            visit(a, b);
        }
    };
    if (kind == RowSort::kMergeSort || kind == RowSort::kMergeSortMirrored) {
        forEachSortingComparator(n, emit);
        return;
    }
    for (int i = 1; i < n; ++i) {
        for (int j = i; j > 0; --j) emit(j - 1, j);
    }
}

// The window network with the candidates finished by `merge` (true: merges
// of the row pieces; false: the odd-even merge sort of all candidates).
constexpr void windowNetwork(int mw, int mh, bool merge, SortedColumnNetwork& net) {
    const int count = mw * mh, rank = count / 2;
    // Row pieces of candidates; count those certainly below rank k / 2.
    int pieces[kMaxSortedColumnExtent][kMaxSortedColumnExtent]{};
    int pieceSize[kMaxSortedColumnExtent]{};
    int all[kMaxSortedColumnWires]{};
    int candidates = 0, below = 0;
    for (int i = 0; i < mh; ++i) {
        for (int j = 0; j < mw; ++j) {
            const int atOrBelow = (i + 1) * (j + 1), atOrAbove = (mh - i) * (mw - j);
            if (atOrBelow - 1 > rank) continue;  // certainly above
            if (atOrAbove - 1 > count - 1 - rank) {
                ++below;
                continue;
            }
            pieces[i][pieceSize[i]++] = i * mw + j;
            all[candidates++] = i * mw + j;
        }
    }
    const int wanted = rank - below;
    Builder last;
    int output = 0;
    if (merge) {
        // Merge neighbouring pieces pairwise until one sorted list is left.
        int lists[kMaxSortedColumnExtent][kMaxSortedColumnWires]{};
        int sizes[kMaxSortedColumnExtent]{};
        int n = 0;
        for (int i = 0; i < mh; ++i) {
            if (pieceSize[i] == 0) continue;
            for (int k = 0; k < pieceSize[i]; ++k) lists[n][k] = pieces[i][k];
            sizes[n++] = pieceSize[i];
        }
        while (n > 1) {
            int next = 0;
            for (int i = 0; i + 1 < n; i += 2) {
                int merged[kMaxSortedColumnWires]{};
                mergeLists(lists[i], sizes[i], lists[i + 1], sizes[i + 1], merged, last);
                sizes[next] = sizes[i] + sizes[i + 1];
                for (int k = 0; k < sizes[next]; ++k) lists[next][k] = merged[k];
                ++next;
            }
            if (n % 2 == 1) {
                sizes[next] = sizes[n - 1];
                for (int k = 0; k < sizes[next]; ++k) lists[next][k] = lists[n - 1][k];
                ++next;
            }
            n = next;
        }
        output = lists[0][wanted];
    } else {
        forEachSortingComparator(candidates, [&](int x, int y) { last.add(all[x], all[y]); });
        output = all[wanted];
    }
    // The final stage pruned tells which ranks of each sorted row it reads;
    // each row then gets the sort that prunes cheapest to those.
    bool needed[kMaxSortedColumnWires]{};
    needed[output] = true;
    Comparator scratch[kSortedColumnCapacity]{};
    pruneTo(last.list, last.size, needed, scratch);
    Builder b;
    for (int i = 0; i < mh; ++i) {
        RowSort best = RowSort::kMergeSort;
        int bestCost = -1;
        for (RowSort kind : {RowSort::kMergeSort, RowSort::kMergeSortMirrored, RowSort::kInsertion,
                             RowSort::kInsertionMirrored}) {
            Builder row;
            forEachRowComparator(kind, mw, [&](int x, int y) { row.add(x, y); });
            bool rowNeeded[kMaxSortedColumnWires]{};
            for (int j = 0; j < mw; ++j) rowNeeded[j] = needed[i * mw + j];
            const int size = pruneTo(row.list, row.size, rowNeeded, scratch);
            const int c = cost(scratch, size);
            if (bestCost < 0 || c < bestCost) best = kind, bestCost = c;
        }
        forEachRowComparator(best, mw, [&](int x, int y) { b.add(i * mw + x, i * mw + y); });
    }
    for (int c = 0; c < last.size; ++c) b.list[b.size++] = last.list[c];
    for (bool& n : needed) n = false;
    needed[output] = true;
    net.size = pruneTo(b.list, b.size, needed, net.comparators);
    net.output = output;
}

}  // namespace sorted_column_detail

// The network for a maskWidth x maskHeight window of sorted columns.
constexpr SortedColumnNetwork makeSortedColumnNetwork(int mw, int mh) {
    using namespace sorted_column_detail;
    SortedColumnNetwork merged, sorted;
    windowNetwork(mw, mh, true, merged);
    windowNetwork(mw, mh, false, sorted);
    SortedColumnNetwork net = cost(sorted.comparators, sorted.size) <
                                      cost(merged.comparators, merged.size)
                                  ? sorted
                                  : merged;
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

template <int MaskWidth, int MaskHeight>
inline constexpr SortedColumnNetwork kSortedColumnNetwork =
    makeSortedColumnNetwork(MaskWidth, MaskHeight);

}  // namespace mediankernels
