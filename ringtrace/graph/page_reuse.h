// Reuse of freed huge-page blocks within one run.
//
// A run frees whole populated huge pages between its phases (the files' bytes once they are
// decoded, a table once the costs are priced, the rasters once the search has what it needs
// of them) and soon after asks for as many fresh ones. A fresh huge page is cleared by the
// kernel and populated (about 0.12 to 0.19 ms each on the machines this runs on) and its
// unmapping costs a few dozen microseconds more; a kept one is moved into place by mremap,
// which moves its page table entry and clears nothing. Kept pages hold what the last owner
// left there, so whoever relies on fresh storage reading as zero clears them itself (see
// the large allocator).
//
// A reuse scope is made by whoever owns a run (the program's driver) and is the current one
// of its thread while it lives; without one, blocks are unmapped as they are freed. It never
// makes a run's peak larger than unmapping would: everything it holds is taken, or given
// back, before any fresh block is mapped (see take_block in large_allocator.h).
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace ringgraph {

class page_reuse {
public:
    static constexpr std::size_t kHuge = std::size_t{1} << 21;
    static constexpr int kMaxBlocks = 16;

    // Becomes its thread's current scope, unless the thread has one already (a nested scope
    // then does nothing: the outer one keeps serving).
    page_reuse() {
        if (current_ == nullptr) current_ = this;
    }
    ~page_reuse() {
        release();
        if (current_ == this) current_ = nullptr;
    }
    page_reuse(const page_reuse&) = delete;
    page_reuse& operator=(const page_reuse&) = delete;

    // The thread's current scope, or null.
    static page_reuse* current() { return current_; }

    // Keeps [p, p + size), a populated block of whole huge pages at a huge page boundary that
    // its owner is done with. False (the block is the caller's to unmap) when it cannot.
    bool keep(void* p, std::size_t size) {
        const auto a = reinterpret_cast<std::uintptr_t>(p);
        if (count_ == kMaxBlocks || size == 0 || size % kHuge != 0 || a % kHuge != 0) return false;
        blocks_[count_++] = block{a, size};
        return true;
    }

    // Bytes kept.
    std::size_t held() const {
        std::size_t total = 0;
        for (int i = 0; i < count_; ++i) total += blocks_[i].size;
        return total;
    }

    // A block of `size` bytes (whole huge pages) made of kept pages: when one kept block is
    // large enough its front is handed out as it is (its rest stays kept); otherwise the kept
    // blocks are moved to the front of `fresh`, an unpopulated mapping of `size` bytes at a
    // huge page boundary that the caller made for the purpose. Returns the block (null when
    // nothing is kept and `fresh` is null) and sets `reused` to how many of its first bytes
    // are kept pages; the rest of it is `fresh`'s own.
    void* take(std::size_t size, void* fresh, std::size_t& reused) {
        reused = 0;
        for (int i = 0; i < count_; ++i) {
            if (blocks_[i].size < size) continue;
            const std::uintptr_t a = blocks_[i].at;
            if (blocks_[i].size == size) {
                blocks_[i] = blocks_[--count_];
            } else {
                blocks_[i].at += size;
                blocks_[i].size -= size;
            }
            if (fresh != nullptr) munmap(fresh, size);
            reused = size;
            return reinterpret_cast<void*>(a);
        }
        if (fresh == nullptr) return nullptr;
        const auto dest = reinterpret_cast<std::uintptr_t>(fresh);
        while (count_ > 0 && reused < size) {
            block& b = blocks_[count_ - 1];
            const std::size_t part = b.size < size - reused ? b.size : size - reused;
            // Moved pages replace the fresh mapping's; a failed move leaves both as they were.
            void* to = mremap(reinterpret_cast<void*>(b.at), part, part, MREMAP_MAYMOVE | MREMAP_FIXED,
                              reinterpret_cast<void*>(dest + reused));
            if (to == MAP_FAILED) break;
            reused += part;
            b.at += part;
            b.size -= part;
            if (b.size == 0) --count_;
        }
        return fresh;
    }

    // Unmaps everything kept.
    void release() {
        for (int i = 0; i < count_; ++i) munmap(reinterpret_cast<void*>(blocks_[i].at), blocks_[i].size);
        count_ = 0;
    }

private:
    struct block {
        std::uintptr_t at;
        std::size_t size;
    };
    inline static thread_local page_reuse* current_ = nullptr;
    block blocks_[kMaxBlocks]{};
    int count_ = 0;
};

}  // namespace ringgraph
