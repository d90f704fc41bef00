#pragma once

// Comparator networks that select the element of rank k / 2 out of k values.
//
// Built from Batcher's odd-even merge sort over the next power of two (the
// padding positions hold +inf, so every comparator touching them is a no-op
// and is dropped), then pruned backwards from the wanted output: a
// comparator survives only if one of its outputs is still needed, and keeps
// only the half (min or max) that is.

#include <cstddef>
#include <cstdint>

namespace mediankernels {

enum class CompareKind : uint8_t { kBoth, kMinOnly, kMaxOnly };

struct Comparator {
    uint16_t low;   // receives the minimum
    uint16_t high;  // receives the maximum
    CompareKind kind;
};

// Visits the full sorting network of `count` values, in execution order.
template <typename Visit>
constexpr void forEachSortingComparator(int count, Visit visit) {
    int n = 1;
    while (n < count) n *= 2;
    for (int p = 1; p < n; p *= 2) {
        for (int k = p; k >= 1; k /= 2) {
            for (int j = k % p; j + k < n; j += 2 * k) {
                for (int i = 0; i < k && i + j + k < n; ++i) {
                    const int a = i + j, b = i + j + k;
                    if (a / (2 * p) == b / (2 * p) && b < count) visit(a, b);
                }
            }
        }
    }
}

// Keeps the comparators of `in` that lead to a wanted wire, each reduced to
// the half that is wanted; returns the count written to `out`, which must
// hold `size` comparators (and may be `in`).
constexpr int pruneTo(const Comparator* in, int size, bool* needed, Comparator* out) {
    // Survivors go to the end of `out`, latest last, then move to its front.
    int kept = 0;
    for (int c = size - 1; c >= 0; --c) {
        const Comparator cmp = in[c];
        const bool wantMin = needed[cmp.low], wantMax = needed[cmp.high];
        if (!wantMin && !wantMax) continue;
        needed[cmp.low] = needed[cmp.high] = true;
        const CompareKind kind = wantMin && wantMax ? CompareKind::kBoth
                                 : wantMin          ? CompareKind::kMinOnly
                                                    : CompareKind::kMaxOnly;
        out[size - 1 - kept++] = {cmp.low, cmp.high, kind};
    }
    for (int i = 0; i < kept; ++i) out[i] = out[size - kept + i];
    return kept;
}

// Writes the pruned selection network for `count` values into `out` (which
// must hold sortingComparatorCount(count) entries) and returns its length.
// `scratch` needs sortingComparatorCount(count) entries, `needed` count.
constexpr int buildSelectionNetwork(int count, Comparator* out, Comparator* scratch, bool* needed) {
    int total = 0;
    forEachSortingComparator(count, [&](int a, int b) {
        scratch[total++] = {static_cast<uint16_t>(a), static_cast<uint16_t>(b), CompareKind::kBoth};
    });
    for (int i = 0; i < count; ++i) needed[i] = false;
    needed[count / 2] = true;
    return pruneTo(scratch, total, needed, out);
}

constexpr int sortingComparatorCount(int count) {
    int total = 0;
    forEachSortingComparator(count, [&](int, int) { ++total; });
    return total;
}

}  // namespace mediankernels
