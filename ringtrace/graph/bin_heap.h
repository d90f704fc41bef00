// Indexed binary heap with stable item handles, the storage behind p_queue.
//
// Items live in slots that are recycled only after deletion, so a handle stays valid until
// its own item is deleted, whatever happens to the others. Among equal priorities the item
// inserted first is the minimum: find_min is deterministic and first-in, first-out.
#pragma once

#include <cassert>
#include <cstdint>
#include <utility>
#include <vector>

namespace ringgraph {

struct pq_item {
    int32_t slot = -1;
    constexpr bool operator==(const pq_item&) const = default;
    explicit constexpr operator bool() const { return slot >= 0; }
};

template <class P, class I>
class bin_heap {
public:
    pq_item insert(const P& prio, const I& inf) {
        int32_t s;
        if (!free_.empty()) {
            s = free_.back();
            free_.pop_back();
            slots_[static_cast<std::size_t>(s)] = slot{prio, inf, nextSeq_++, 0};
        } else {
            s = static_cast<int32_t>(slots_.size());
            slots_.push_back(slot{prio, inf, nextSeq_++, 0});
        }
        heap_.push_back(s);
        siftUp(static_cast<int32_t>(heap_.size() - 1));
        return pq_item{s};
    }

    pq_item find_min() const { return heap_.empty() ? pq_item{} : pq_item{heap_[0]}; }
    const P& prio(pq_item it) const { return at(it).prio; }
    const I& inf(pq_item it) const { return at(it).inf; }
    int size() const { return static_cast<int>(heap_.size()); }
    bool empty() const { return heap_.empty(); }

    void del_item(pq_item it) {
        const int32_t pos = at(it).pos;
        const int32_t last = static_cast<int32_t>(heap_.size() - 1);
        if (pos != last) {
            place(pos, heap_[static_cast<std::size_t>(last)]);
            heap_.pop_back();
            siftDown(pos);
            siftUp(pos);
        } else {
            heap_.pop_back();
        }
        slot& s = slots_[static_cast<std::size_t>(it.slot)];
        s.pos = -1;
        s.inf = I();  // release what the item held now, not when the slot is reused
        free_.push_back(it.slot);
    }

    // Gives an item a new priority; it keeps its place among equal priorities (the order of
    // insertion), as if it had been inserted with this priority in the first place.
    void change_prio(pq_item it, const P& prio) {
        slot& s = slots_[static_cast<std::size_t>(it.slot)];
        s.prio = prio;
        siftDown(s.pos);
        siftUp(slots_[static_cast<std::size_t>(it.slot)].pos);
    }

    void clear() {
        heap_.clear();
        slots_.clear();
        free_.clear();
    }

    // Iteration in storage (heap array) order.
    pq_item first_item() const { return heap_.empty() ? pq_item{} : pq_item{heap_[0]}; }
    pq_item last_item() const { return heap_.empty() ? pq_item{} : pq_item{heap_.back()}; }
    pq_item next_item(pq_item it) const {
        const auto next = static_cast<std::size_t>(at(it).pos) + 1;
        return next < heap_.size() ? pq_item{heap_[next]} : pq_item{};
    }

private:
    struct slot {
        P prio;
        I inf;
        uint64_t seq;
        int32_t pos;
    };
    const slot& at(pq_item it) const {
        assert(it.slot >= 0 && static_cast<std::size_t>(it.slot) < slots_.size());
        return slots_[static_cast<std::size_t>(it.slot)];
    }
    bool less(int32_t a, int32_t b) const {
        const slot& x = slots_[static_cast<std::size_t>(a)];
        const slot& y = slots_[static_cast<std::size_t>(b)];
        return x.prio < y.prio || (!(y.prio < x.prio) && x.seq < y.seq);
    }
    void place(int32_t pos, int32_t s) {
        heap_[static_cast<std::size_t>(pos)] = s;
        slots_[static_cast<std::size_t>(s)].pos = pos;
    }
    void siftUp(int32_t pos) {
        const int32_t s = heap_[static_cast<std::size_t>(pos)];
        while (pos > 0) {
            const int32_t parent = (pos - 1) / 2;
            if (!less(s, heap_[static_cast<std::size_t>(parent)])) break;
            place(pos, heap_[static_cast<std::size_t>(parent)]);
            pos = parent;
        }
        place(pos, s);
    }
    void siftDown(int32_t pos) {
        const auto n = static_cast<int32_t>(heap_.size());
        const int32_t s = heap_[static_cast<std::size_t>(pos)];
        for (;;) {
            int32_t child = 2 * pos + 1;
            if (child >= n) break;
            if (child + 1 < n && less(heap_[static_cast<std::size_t>(child + 1)], heap_[static_cast<std::size_t>(child)])) ++child;
            if (!less(heap_[static_cast<std::size_t>(child)], s)) break;
            place(pos, heap_[static_cast<std::size_t>(child)]);
            pos = child;
        }
        place(pos, s);
    }

    std::vector<slot> slots_;
    std::vector<int32_t> heap_;
    std::vector<int32_t> free_;
    uint64_t nextSeq_ = 0;
};

}  // namespace ringgraph
