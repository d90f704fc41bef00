// Priority queue of (priority, information) pairs; the item with the least priority comes
// first, and among equal priorities the one inserted first. The queue keeps its own copies
// of both and hands out item handles that stay valid until their item is deleted.
#pragma once

#include "bin_heap.h"

namespace ringgraph {

template <class P, class I, template <class, class> class Impl = bin_heap>
class p_queue {
public:
    using item = pq_item;

    item insert(const P& prio, const I& inf) { return impl_.insert(prio, inf); }
    item find_min() const { return impl_.find_min(); }
    const P& prio(item it) const { return impl_.prio(it); }
    const I& inf(item it) const { return impl_.inf(it); }
    void del_item(item it) { impl_.del_item(it); }
    void change_prio(item it, const P& prio) { impl_.change_prio(it, prio); }
    int size() const { return impl_.size(); }
    bool empty() const { return impl_.empty(); }
    void clear() { impl_.clear(); }

    item first_item() const { return impl_.first_item(); }
    item next_item(item it) const { return impl_.next_item(it); }
    item last_item() const { return impl_.last_item(); }

private:
    Impl<P, I> impl_;
};

}  // namespace ringgraph
