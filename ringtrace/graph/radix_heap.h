// Monotone priority queue over 64-bit keys (a radix heap): every key pushed must be at least
// the last key popped, as in a shortest-path search with non-negative (reduced) costs.
//
// Entries sit in buckets by the highest bit in which their key differs from the last key
// popped; popping from an empty bucket 0 takes the least key of the first non-empty bucket
// and redistributes that bucket into lower ones. Each entry moves down at most 64 times,
// whatever the spread of the keys, so large key jumps cost nothing extra. Entries with
// equal keys come out in no particular order.
#pragma once

#include <cassert>
#include <cstdint>
#include <vector>

#include "large_allocator.h"

namespace ringgraph {

class radix_heap {
public:
    struct entry {
        uint64_t key;
        int32_t v;
    };

    void clear() {
        for (uint64_t m = mask_; m != 0; m &= m - 1) buckets_[__builtin_ctzll(m) + 1].clear();
        buckets_[0].clear();
        mask_ = 0;
        last_ = 0;
        size_ = 0;
    }
    bool empty() const { return size_ == 0; }
    int64_t size() const { return size_; }

    void push(uint64_t key, int32_t v) {
        assert(key >= last_);
        const int b = bucketOf(key);
        buckets_[b].push_back(entry{key, v});
        if (b > 0) mask_ |= uint64_t{1} << (b - 1);
        ++size_;
    }

    // Removes and returns an entry of least key. Precondition: not empty.
    entry pop() {
        if (buckets_[0].empty()) refill();
        bucket& b = buckets_[0];
        const entry e = b.back();
        b.pop_back();
        --size_;
        return e;
    }

private:
    int bucketOf(uint64_t key) const { return key == last_ ? 0 : 64 - __builtin_clzll(key ^ last_); }

    void refill() {
        assert(mask_ != 0);
        const int i = __builtin_ctzll(mask_) + 1;
        bucket& from = buckets_[i];
        uint64_t least = from.front().key;
        for (const entry& e : from) least = e.key < least ? e.key : least;
        last_ = least;
        // Every entry of bucket i now differs from last_ only below bit i - 1.
        for (const entry& e : from) {
            const int b = bucketOf(e.key);
            buckets_[b].push_back(e);
            if (b > 0) mask_ |= uint64_t{1} << (b - 1);
        }
        from.clear();
        mask_ &= ~(uint64_t{1} << (i - 1));
    }

    // The first run grows the buckets to a few hundred KiB in all; later runs reuse them.
    using bucket = std::vector<entry, populated_allocator<entry>>;
    bucket buckets_[65];
    uint64_t mask_ = 0;  // bit b - 1 set: bucket b (1..64) is not empty
    uint64_t last_ = 0;
    int64_t size_ = 0;
};

}  // namespace ringgraph
