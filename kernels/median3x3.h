#pragma once

// The 3 x 3 median for one vector instruction set (included by
// sorted_column_median_isa.cpp, so inside its MK_ISA_NS namespace).
//
// The window's three sorted columns give its median directly: the median of
// the largest of their minima, the median of their middles and the smallest
// of their maxima. Two output lines are made per pass over four source lines:
// their two middle lines are sorted once for both. Each vector of source
// columns is loaded and sorted once, in registers; the window's second and
// third columns come from the sorted vectors of this block and the next by
// lane shifts, so nothing goes through memory but the source and the output
// (on some processors the loads, not the comparisons, bound this filter).
//
// Floats are compared as their bits read as integers, which rank as the
// floats do while none is negative or NaN; the largest bits seen are kept,
// and a pair of lines that met any other value is done again on ordered keys.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "flipped_words.h"
#include "median_job.h"
#include "network_median.h"

namespace mediankernels::MK_ISA_NS {

#if MK_VECTOR_BYTES > 0

// T: the element type, OrderedFloat for floats or FlippedWord for unsigned
// words taken as signed ones. Keyed: floats are turned into ordered keys on
// load and back on store.
template <typename T, bool Keyed>
struct Median3x3 {
    using Key = typename KeyOf<T>::Key;
    using L = Lanes<Key, MK_VECTOR_BYTES>;
    using V = typename L::V;
    using U = typename VectorOf<uint32_t, MK_VECTOR_BYTES>::Type;
    static constexpr int kLanes = L::kCount;
    static constexpr std::ptrdiff_t kSize = sizeof(Key);
    static constexpr bool kFloat = std::is_same_v<T, OrderedFloat>;
    // Raw float bits: the largest, as unsigned, is tracked.
    static constexpr bool kTracked = kFloat && !Keyed;
    static constexpr bool kFlipped = std::is_same_v<T, FlippedWord>;

    // One vector of sorted source columns.
    struct Columns {
        V low, middle, high;
    };

    template <int S, std::size_t... I>
    static V shifted(V a, V b, std::index_sequence<I...>) {
        return __builtin_shufflevector(a, b, (I + S)...);
    }
    // Lanes S.. of a, then the first lanes of b.
    template <int S>
    static V shift(V a, V b) {
        return shifted<S>(a, b, std::make_index_sequence<kLanes>());
    }

    static V load(const unsigned char* p, U& most) {
        V v = L::load(p);
        if constexpr (kTracked) {
            const U bits = (U)v;
            most = most < bits ? bits : most;
        }
        if constexpr (kFloat && Keyed) {
            // As orderedFloatKeys: every NaN the canonical one, then keys.
            v = (v & 0x7FFFFFFF) > 0x7F800000 ? V{} + 0x7FC00000 : v;
            v ^= (v >> 31) & 0x7FFFFFFF;
        }
        if constexpr (kFlipped) v ^= std::numeric_limits<int16_t>::min();
        return v;
    }
    static void store(unsigned char* p, V v) {
        if constexpr (kFloat && Keyed) v ^= (v >> 31) & 0x7FFFFFFF;
        if constexpr (kFlipped) v ^= std::numeric_limits<int16_t>::min();
        std::memcpy(p, &v, sizeof v);
    }

    // The column a, l, h where l <= h.
    static Columns merge(V a, V l, V h) {
        return {lower(a, l), upper(l, lower(a, h)), upper(a, h)};
    }

    static V median(const Columns& c0, const Columns& c1, const Columns& c2) {
        const V low = upper(upper(c0.low, c1.low), c2.low);
        const V high = lower(lower(c0.high, c1.high), c2.high);
        const V middle =
            upper(lower(c0.middle, c1.middle), lower(upper(c0.middle, c1.middle), c2.middle));
        return upper(lower(low, middle), lower(upper(low, middle), high));
    }
    static V median(const Columns& c, const Columns& next) {
        return median(c,
                      {shift<1>(c.low, next.low), shift<1>(c.middle, next.middle),
                       shift<1>(c.high, next.high)},
                      {shift<2>(c.low, next.low), shift<2>(c.middle, next.middle),
                       shift<2>(c.high, next.high)});
    }

    // Rows (1 or 2) output lines at `dst` from the Rows + 2 source lines at
    // `src`; `width` is at least one vector. `ahead`: the next pass's new
    // source lines (`aheadLines` of them, none if 0).
    template <int Rows>
    static void lines(const unsigned char* src, std::ptrdiff_t srcStep, unsigned char* dst,
                      std::ptrdiff_t dstStep, int width, const unsigned char* ahead, int aheadLines,
                      U& largest) {
        // In a register, not behind a reference that the stores may alias.
        U most = largest;
        const auto columns = [&](int x, Columns* out) {
            const unsigned char* at = src + x * kSize;
            const V a = load(at, most), b = load(at + srcStep, most),
                    c = load(at + 2 * srcStep, most);
            const V l = lower(b, c), h = upper(b, c);
            out[0] = merge(a, l, h);
            if constexpr (Rows == 2) out[1] = merge(load(at + 3 * srcStep, most), l, h);
        };
        int x = 0;
        // Blocks of source columns while the next block lies within the lines.
        if (width + 2 >= 2 * kLanes) {
            Columns current[Rows], next[Rows];
            columns(0, current);
            for (; x + 2 * kLanes <= width + 2; x += kLanes) {
                // The source lines of the next pass, into the cache meanwhile.
                if (aheadLines > 0) __builtin_prefetch(ahead + x * kSize);
                if (aheadLines > 1) __builtin_prefetch(ahead + srcStep + x * kSize);
                columns(x + kLanes, next);
                for (int r = 0; r < Rows; ++r) {
                    store(dst + r * dstStep + x * kSize, median(current[r], next[r]));
                    current[r] = next[r];
                }
            }
        }
        // The rest (less than two vectors) from shifted loads, the last
        // vector overlapping its predecessor.
        while (x < width) {
            if (x + kLanes > width) x = width - kLanes;
            Columns c0[Rows], c1[Rows], c2[Rows];
            columns(x, c0);
            columns(x + 1, c1);
            columns(x + 2, c2);
            for (int r = 0; r < Rows; ++r) {
                store(dst + r * dstStep + x * kSize, median(c0[r], c1[r], c2[r]));
            }
            x += kLanes;
        }
        largest = most;
    }
};

// The job's lines two at a time (the last alone if their count is odd).
template <typename T>
void median3x3(const MedianJob& job) {
    using Fast = Median3x3<T, false>;
    using U = typename Fast::U;
    for (int y = 0; y < job.height; y += 2) {
        const unsigned char* src = job.origin + y * job.srcStep;
        unsigned char* dst = job.dst + y * job.dstStep;
        const bool pair = y + 1 < job.height;
        // The next pass reads its source lines y + 4 and (for a pair) y + 5.
        const int aheadLines = y + 3 < job.height ? 2 : y + 2 < job.height ? 1 : 0;
        const unsigned char* ahead = aheadLines > 0 ? src + 4 * job.srcStep : src;
        U most{};
        // One pass of two output lines (one at the last odd line) with the kernel `Kernel`.
        const auto pass = [&]<class Kernel>() {
            if (pair) {
                Kernel::template lines<2>(src, job.srcStep, dst, job.dstStep, job.width, ahead,
                                          aheadLines, most);
            } else {
                Kernel::template lines<1>(src, job.srcStep, dst, job.dstStep, job.width, ahead,
                                          aheadLines, most);
            }
        };
        pass.template operator()<Fast>();
        if constexpr (Fast::kTracked) {
            uint32_t largest = 0;
            for (int i = 0; i < Fast::kLanes; ++i) largest = largest < most[i] ? most[i] : largest;
            if (largest <= 0x7F800000u) continue;
            // Negative floats or NaNs met: this pass again on ordered keys.
            pass.template operator()<Median3x3<T, true>>();
        }
    }
}

#else

// One-lane builds keep the sorted-column kernel; declared for the
// dispatch's branch that they discard.
template <typename T>
void median3x3(const MedianJob& job);

#endif

}  // namespace mediankernels::MK_ISA_NS
