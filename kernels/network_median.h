#pragma once

// The selection-network median, evaluated for a whole vector of adjacent
// outputs at once: each window element is one unaligned vector load, and the
// network's comparators become lane-wise min / max.
//
// This header is compiled once per instruction set (MK_ISA_NS names the
// namespace, MK_VECTOR_BYTES the vector width, 0 for plain scalar code), so
// every function here must stay inside that namespace: code built for a
// wider instruction set must never be merged with the baseline copy.

#include <cstring>
#include <utility>

#include "compiled_networks.h"
#include "median_job.h"

#ifndef MK_ISA_NS
#error "MK_ISA_NS must name the instruction-set namespace"
#endif

namespace mediankernels::MK_ISA_NS {

// Keys that lane-wise integer min / max rank correctly: integers as they are,
// floats already turned into ordered keys (see OrderedFloat).
template <typename T>
struct KeyOf {
    using Key = T;
};
template <>
struct KeyOf<OrderedFloat> {
    using Key = int32_t;
};

template <typename Key, int Bytes>
struct VectorOf {
    using Type __attribute__((vector_size(Bytes))) = Key;
    static constexpr int kLanes = Bytes / static_cast<int>(sizeof(Key));
};
template <typename Key>
struct VectorOf<Key, 0> {
    using Type = Key;
    static constexpr int kLanes = 1;
};

template <typename V>
inline V lower(V a, V b) {
    return a < b ? a : b;
}
template <typename V>
inline V upper(V a, V b) {
    return a < b ? b : a;
}

template <typename T, int Bytes>
struct Lanes {
    using Key = typename KeyOf<T>::Key;
    using V = typename VectorOf<Key, Bytes>::Type;
    static constexpr int kCount = VectorOf<Key, Bytes>::kLanes;

    static V load(const unsigned char* p) {
        V v;
        std::memcpy(&v, p, sizeof(V));
        return v;
    }
    // Ordered float keys go out as the floats they stand for.
    static void store(unsigned char* p, V v) {
        if constexpr (std::is_same_v<T, OrderedFloat>) v ^= (v >> 31) & 0x7FFFFFFF;
        std::memcpy(p, &v, sizeof(V));
    }
};

// Orders two wires; the compiled-in networks do the same in selection_steps.h
// and sorted_column_steps.h, written out, and keep only the half that is used
// where pruning allows.
template <typename V>
inline void compareExchange(V& low, V& high) {
    const V min = lower(low, high);
    high = upper(low, high);
    low = min;
}

template <typename L, std::size_t... I>
inline void loadWindow(typename L::V* v, const unsigned char* base, const std::ptrdiff_t* offsets,
                       std::index_sequence<I...>) {
    ((v[I] = L::load(base + offsets[I])), ...);
}

// The compiled-in selection networks, written out (selection_steps.h, which
// the network kernels include: other files need not parse them).
template <int Count>
struct SelectionSteps;

// Median of the fixed-size window at `base` (offsets in bytes), for kCount
// adjacent outputs.
template <typename L, int Count>
struct FixedWindow {
    static typename L::V median(const unsigned char* base, const std::ptrdiff_t* offsets,
                                const RuntimeNetwork&) {
        typename L::V v[Count];
        loadWindow<L>(v, base, offsets, std::make_index_sequence<Count>());
        SelectionSteps<Count>::run(v);
        return v[Count / 2];
    }
};

template <typename L>
struct RuntimeWindow {
    static typename L::V median(const unsigned char* base, const std::ptrdiff_t* offsets,
                                const RuntimeNetwork& network, typename L::V* v, int count) {
        for (int i = 0; i < count; ++i) v[i] = L::load(base + offsets[i]);
        // Every comparator exchanges both ways: a half that pruning dropped
        // writes a slot nothing reads again, and no branch is taken per step.
        for (int c = 0; c < network.size; ++c) {
            const Comparator cmp = network.comparators[c];
            compareExchange(v[cmp.low], v[cmp.high]);
        }
        return v[count / 2];
    }
};

// Runs `wide(base)` over a region at least one vector wide: full vectors
// first, the last partial vector as an overlapping full one.
template <typename T, typename Wide>
void forEachFullVector(const MedianJob& job, Wide wide) {
    using W = Lanes<T, MK_VECTOR_BYTES>;
    constexpr std::ptrdiff_t kSize = sizeof(T);
    for (int y = 0; y < job.height; ++y) {
        const unsigned char* line = job.origin + y * job.srcStep;
        unsigned char* out = job.dst + y * job.dstStep;
        // One call site, so that `wide`'s network is compiled in once.
        for (int x = 0;; x += W::kCount) {
            const bool last = x + W::kCount >= job.width;
            if (last) x = job.width - W::kCount;
            W::store(out + x * kSize, wide(line + x * kSize));
            if (last) break;
        }
    }
}

// The same over any region, single lanes (`narrow`) where it is narrower
// than a vector.
template <typename T, typename Wide, typename Narrow>
void forEachOutputVector(const MedianJob& job, Wide wide, Narrow narrow) {
    using W = Lanes<T, MK_VECTOR_BYTES>;
    using S = Lanes<T, 0>;
    constexpr std::ptrdiff_t kSize = sizeof(T);
    if (job.width >= W::kCount) {
        forEachFullVector<T>(job, wide);
        return;
    }
    for (int y = 0; y < job.height; ++y) {
        const unsigned char* line = job.origin + y * job.srcStep;
        unsigned char* out = job.dst + y * job.dstStep;
        for (int x = 0; x < job.width; ++x) S::store(out + x * kSize, narrow(line + x * kSize));
    }
}

template <typename T>
void fixedNetworkMedian(const MedianJob& job, const std::ptrdiff_t* offsets);

template <typename T>
void runtimeNetworkMedian(const MedianJob& job, const std::ptrdiff_t* offsets,
                          const RuntimeNetwork& network, void* scratch);

// Writes the OrderedFloat keys of `count` floats.
void orderedFloatKeys(const unsigned char* floats, int count, int32_t* keys);

}  // namespace mediankernels::MK_ISA_NS
