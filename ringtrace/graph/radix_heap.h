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
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "large_allocator.h"

namespace ringgraph {

class radix_heap {
public:
    struct entry {
        uint64_t key;
        int32_t v;
    };

    radix_heap() = default;
    // A copy is an empty heap of its own: the buckets' storage is never shared.
    radix_heap(const radix_heap&) {}
    radix_heap& operator=(const radix_heap& other) {
        if (this != &other) clear();
        return *this;
    }
    ~radix_heap() {
        for (void* s : slabs_) std::free(s);
    }

    void clear() {
        for (uint64_t m = mask_; m != 0; m &= m - 1) drop(buckets_[__builtin_ctzll(m) + 1]);
        drop(buckets_[0]);
        mask_ = 0;
        last_ = 0;
        size_ = 0;
    }
    bool empty() const { return size_ == 0; }

    // Hands the heap storage of the caller's for its buckets, used before any block of its
    // own is taken: pages the caller has already touched. It must stay valid while the heap
    // is used (the heap never frees it). Whole chunks only; what is left over goes unused.
    void lend(void* p, std::size_t bytes) {
        auto* first = static_cast<entry*>(p);
        for (std::size_t k = bytes / (kChunk * sizeof(entry)); k-- > 0;) free_.push_back(first + k * kChunk);
    }
    static constexpr std::size_t chunk_bytes() { return kChunk * sizeof(entry); }
    int64_t size() const { return size_; }

    void push(uint64_t key, int32_t v) {
        assert(key >= last_);
        const int b = bucketOf(key);
        append(buckets_[b], entry{key, v});
        if (b > 0) mask_ |= uint64_t{1} << (b - 1);
        ++size_;
    }

    // Removes and returns an entry of least key. Precondition: not empty.
    __attribute__((always_inline)) entry pop() {
        if (buckets_[0].count == 0) [[unlikely]] refill();
        bucket& b = buckets_[0];
        --b.count;
        const size_t at = static_cast<size_t>(b.count);
        const entry e = b.chunks[at / kChunk][at % kChunk];
        if (at % kChunk == 0) {
            free_.push_back(b.chunks.back());
            b.chunks.pop_back();
        }
        --size_;
        return e;
    }

private:
    // Each bucket is a sequence of fixed chunks from one pool, so that a run's buckets grow
    // without copying and in pages the pool has already touched: growing vectors cost a
    // copy, a fresh block and its page faults at every doubling (a quarter of the
    // backward run at 720 x 400). The sequence keeps a vector's order: pushed at the back,
    // popped from the back, walked front to back.
    static constexpr size_t kChunk = 256;  // entries: 4 KiB
    // The pool's first block is 256 KiB (a small run needs no more); each later one is
    // twice the last, up to whole huge pages, which are populated with no fault per 4 KiB.
    static constexpr size_t kFirstSlab = size_t{256} << 10;
    static constexpr size_t kLargestSlab = size_t{2} << 20;
    struct bucket {
        std::vector<entry*> chunks;
        int64_t count = 0;
    };

    int bucketOf(uint64_t key) const { return key == last_ ? 0 : 64 - __builtin_clzll(key ^ last_); }

    __attribute__((always_inline)) void append(bucket& b, const entry& e) {
        const size_t at = static_cast<size_t>(b.count);
        if (at % kChunk == 0) [[unlikely]] b.chunks.push_back(takeChunk());
        b.chunks[at / kChunk][at % kChunk] = e;
        ++b.count;
    }
    void drop(bucket& b) {
        free_.insert(free_.end(), b.chunks.begin(), b.chunks.end());
        b.chunks.clear();
        b.count = 0;
    }
    __attribute__((noinline)) entry* takeChunk() {
        if (free_.empty()) {
            const size_t grown = kFirstSlab << (slabs_.size() < 4 ? slabs_.size() : 4);
            const size_t bytes = grown < kLargestSlab ? grown : kLargestSlab;
            const bool huge = bytes == kLargestSlab;
            void* s = huge ? std::aligned_alloc(kLargestSlab, bytes) : std::malloc(bytes);
            if (s == nullptr) throw std::bad_alloc();
            // One call maps the whole slab: page by page it costs a fault per 4 KiB.
            populate_pages(s, bytes, huge);
            slabs_.push_back(s);
            auto* first = static_cast<entry*>(s);
            const size_t chunks = bytes / (kChunk * sizeof(entry));
            for (size_t k = chunks; k-- > 0;) free_.push_back(first + k * kChunk);
        }
        entry* c = free_.back();
        free_.pop_back();
        return c;
    }

    __attribute__((noinline)) void refill() {
        assert(mask_ != 0);
        const int i = __builtin_ctzll(mask_) + 1;
        bucket& from = buckets_[i];
        const auto n = static_cast<size_t>(from.count);
        uint64_t least = from.chunks[0][0].key;
        for (size_t k = 0; k < n; ++k) {
            const uint64_t key = from.chunks[k / kChunk][k % kChunk].key;
            least = key < least ? key : least;
        }
        last_ = least;
        // Every entry of bucket i now differs from last_ only below bit i - 1.
        for (size_t k = 0; k < n; ++k) {
            const entry& e = from.chunks[k / kChunk][k % kChunk];
            const int b = bucketOf(e.key);
            append(buckets_[b], e);
            if (b > 0) mask_ |= uint64_t{1} << (b - 1);
        }
        drop(from);
        mask_ &= ~(uint64_t{1} << (i - 1));
    }

    bucket buckets_[65];
    uint64_t mask_ = 0;  // bit b - 1 set: bucket b (1..64) is not empty
    uint64_t last_ = 0;
    int64_t size_ = 0;
    std::vector<entry*> free_;   // chunks no bucket holds
    std::vector<void*> slabs_;   // the pool's blocks, freed with the heap
};

}  // namespace ringgraph
