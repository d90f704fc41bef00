// Allocator for the per-pixel arrays. Large blocks come straight from the kernel, and
// every block the program will mostly write is populated in one call when it is made: on
// the machines this runs on a page taken by a fault one at a time costs ten times what the
// same page costs populated with its neighbours (about 10 us against 0.7 us), so faulting in
// the arrays page by page was a large share of every run. Blocks of 2 MiB and more ask for
// transparent huge pages as well. Blocks read as zero (fresh ones are, kept ones are
// cleared: see page_reuse.h) and elements are default-initialised, so resizing a vector of
// plain values writes nothing; storage for overwrite is handed over as it is.
//
// Sparse storage (block_use::sparse) is for arrays that a run touches only
// here and there, such as the working arrays of a goal-directed search, which visit a
// corridor of rows in every column. Up to kPopulateSparseUpTo bytes it is populated all the
// same (a small image's fixed costs dominate its memory, and its runs touch most pages);
// beyond that it is left in ordinary 4 KiB pages faulted in as touched, so that only the
// pages actually touched cost memory. Its default-constructed plain values are never
// written: they read as zero while fresh.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "page_reuse.h"

namespace ringgraph {

inline constexpr std::size_t kHugePage = std::size_t{1} << 21;

// Blocks from this size up are mapped in whole huge pages, at a huge page boundary: on the
// machines this runs on, the first write to a fresh 4 KiB page costs about 5 us even when
// the page was populated (20 ms for 4 MiB, against 0.1 ms for the same 4 MiB in huge pages),
// so a block left in small pages at its ends, or a raster of 1.2 MB in small pages, cost
// more than the work done in it. Rounding up adds less than 2 MiB a block: a few MiB on a
// small image (720 x 400: 20 MB at its peak instead of 15), and still within 40 bytes a
// pixel from 1024 x 1024 up (35 there, 37 at 2048 x 2048).
inline constexpr std::size_t kWholeHugePagesFrom = std::size_t{1} << 18;

// The bytes actually mapped for a block of `bytes`.
inline std::size_t mapped_size(std::size_t bytes) {
    if (bytes < kWholeHugePagesFrom) return bytes;
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

// Maps mapped_size(bytes) fresh bytes, from kWholeHugePagesFrom up at a huge page boundary
// (the mapping is made one huge page larger and its ends given back). Null on failure;
// unmap with unmap_block(p, bytes).
inline void* map_block(std::size_t bytes) {
    // Rounded up near the top of the address range the size would wrap round to a small one.
    if (bytes > SIZE_MAX - 2 * kHugePage) return nullptr;
    const std::size_t size = mapped_size(bytes);
    if (bytes < kWholeHugePagesFrom) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return p == MAP_FAILED ? nullptr : p;
    }
    const std::size_t span = size + kHugePage;
    void* q = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (q == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(q);
    const std::uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (begin > start) munmap(q, begin - start);
    const std::uintptr_t end = start + span;
    if (end > begin + size) munmap(reinterpret_cast<void*>(begin + size), end - (begin + size));
    return reinterpret_cast<void*>(begin);
}

inline void unmap_block(void* p, std::size_t bytes) { munmap(p, mapped_size(bytes)); }

// Asks for transparent huge pages over the whole 2 MiB pages inside [p, p + bytes).
inline void advise_huge_pages(void* p, std::size_t bytes) {
    constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (start + bytes) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Maps the whole pages of [p, p + bytes) in one call (after asking for huge pages where
// `huge`); a no-op where the kernel cannot. Contents are unchanged.
inline void populate_pages(void* p, std::size_t bytes, bool huge) {
    if (huge) advise_huge_pages(p, bytes);
#ifdef MADV_POPULATE_WRITE
    constexpr std::uintptr_t kPage = 4096;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t begin = (start + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (start + bytes) & ~(kPage - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)bytes;
#endif
}

// Populating a large block of huge pages at once stalls in the kernel's compaction whenever
// free memory is fragmented: on 4096 x 4096 and 5792 x 5792 rings one run in two took 0.3 to
// 0.8 s more system time than faulting the same huge pages in as touched. Blocks up to this
// size are as fast or faster populated; larger ones are only advised.
inline constexpr std::size_t kPopulateHugeUpTo = std::size_t{32} << 20;

// Prepares a fresh block that the program will mostly write: populated, or, beyond
// kPopulateHugeUpTo, left to fault in as touched in huge pages.
inline void prepare_written_block(void* p, std::size_t bytes) {
    constexpr std::size_t kHugeFrom = std::size_t{1} << 21;
    if (bytes > kPopulateHugeUpTo) {
        advise_huge_pages(p, bytes);
    } else {
        populate_pages(p, bytes, bytes >= kHugeFrom);
    }
}

// Whether a block of `bytes` from take_block is populated (and so may be kept for reuse
// when it is given back): blocks beyond kPopulateHugeUpTo fault in as touched.
inline bool populated_block(std::size_t bytes) {
    return bytes >= kWholeHugePagesFrom && mapped_size(bytes) <= kPopulateHugeUpTo;
}

// A block for `bytes` that the program will mostly write, prepared as prepare_written_block
// prepares one: with the thread's reuse scope (page_reuse.h), kept pages make up as much of
// it as they can and the rest is fresh. Kept pages hold old contents: with `zeros` the first
// `bytes` of the block are cleared, so that it reads as zero as fresh storage does. Null
// on failure; give it back with give_block(p, bytes).
inline void* take_block(std::size_t bytes, bool zeros) {
    page_reuse* kept = bytes >= kWholeHugePagesFrom ? page_reuse::current() : nullptr;
    if (kept == nullptr || kept->held() == 0 || bytes > SIZE_MAX - 2 * kHugePage) {
        void* p = map_block(bytes);
        if (p != nullptr) prepare_written_block(p, mapped_size(bytes));
        return p;
    }
    const std::size_t size = mapped_size(bytes);
    std::size_t reused = 0;
    void* p = kept->take(size, nullptr, reused);
    if (p == nullptr) {
        void* fresh = map_block(bytes);
        if (fresh == nullptr) return nullptr;
        p = kept->take(size, fresh, reused);
        if (reused < size) {
            // Nothing stays kept while fresh pages are taken.
            kept->release();
            auto* rest = static_cast<unsigned char*>(p) + reused;
            if (size > kPopulateHugeUpTo) {
                advise_huge_pages(rest, size - reused);
            } else {
                populate_pages(rest, size - reused, true);
            }
        }
    }
    if (zeros) std::memset(p, 0, reused < bytes ? reused : bytes);
    return p;
}

// Gives back a block from take_block (or map_block) of `bytes`: kept for reuse where the
// thread has a reuse scope and the block is populated, unmapped otherwise.
inline void give_block(void* p, std::size_t bytes) {
    page_reuse* kept = populated_block(bytes) ? page_reuse::current() : nullptr;
    if (kept == nullptr || !kept->keep(p, mapped_size(bytes))) unmap_block(p, bytes);
}

// Maps a block that is not populated (left to fault in as touched): whatever the thread's
// reuse scope keeps is given back first, so that the run's peak stays what it was.
inline void* map_unpopulated_block(std::size_t bytes) {
    if (page_reuse* kept = page_reuse::current()) kept->release();
    return map_block(bytes);
}

// What a block's owner relies on: `zeroed`, that it reads as zero until written (elements
// are default-initialised, so resizing a vector of plain values writes nothing); `sparse`,
// the same, for arrays that a run touches only here and there (see above); `overwritten`,
// nothing: every element is written before it is read, so pages kept from an earlier owner
// are handed over as they are.
enum class block_use { zeroed, sparse, overwritten };

template <class T, block_use Use = block_use::zeroed>
class large_allocator {
public:
    using value_type = T;
    template <class U>
    struct rebind {
        using other = large_allocator<U, Use>;
    };
    static constexpr bool Sparse = Use == block_use::sparse;
    static constexpr std::size_t kMapThreshold = std::size_t{1} << 16;
    static constexpr std::size_t kPopulateSparseUpTo = std::size_t{8} << 20;

    large_allocator() = default;
    template <class U>
    large_allocator(const large_allocator<U, Use>&) noexcept {}  // NOLINT: rebinding

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kMapThreshold) {
            void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
            if (p == nullptr) throw std::bad_alloc();
            return static_cast<T*>(p);
        }
        if (bytes < kWholeHugePagesFrom) {
            // From the heap, populated: a mapping of its own in small pages cost about 0.6 ms
            // to unmap here (two such blocks a run were a tenth of the tracer's time at
            // 720 x 400), while heap pages stay for the next block.
            void* p = std::malloc(bytes);
            if (p == nullptr) throw std::bad_alloc();
            populate_pages(p, bytes, false);
            if constexpr (Use != block_use::overwritten) std::memset(p, 0, bytes);
            return static_cast<T*>(p);
        }
        void* p = nullptr;
        if (dense(bytes)) {
            p = take_block(bytes, Use != block_use::overwritten);
        } else {
            p = map_unpopulated_block(bytes);
            if (p != nullptr) madvise(p, bytes, MADV_NOHUGEPAGE);
        }
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kWholeHugePagesFrom) {
            std::free(p);
        } else if (dense(bytes)) {
            give_block(p, bytes);
        } else {
            unmap_block(p, bytes);
        }
    }

    template <class U>
    void construct(U* p) noexcept {
        // Sparse storage leaves plain values as the fresh storage holds them (zero), even
        // where the type's own default would write something else: a search's predecessor
        // array (nil is -1) must not be written, and so faulted in, over the whole image.
        if constexpr (!(Sparse && std::is_trivially_copyable_v<U> && std::is_trivially_destructible_v<U>)) {
            ::new (static_cast<void*>(p)) U;
        }
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(static_cast<Args&&>(args)...);
    }

    template <class U>
    bool operator==(const large_allocator<U, Use>&) const noexcept {
        return true;
    }

private:
    static bool dense(std::size_t bytes) { return !Sparse || bytes <= kPopulateSparseUpTo; }
};

// Allocator for working storage that grows as a run goes (a queue's buckets, the nodes a run
// settled): small blocks from the heap as usual, larger ones populated in one call when they
// are taken, since each page that a growing vector first writes would otherwise cost a fault
// of its own (about 2 to 5 us here, against about 1 us a page populated with its
// neighbours). The contents are left as malloc leaves them.
template <class T>
class populated_allocator {
public:
    using value_type = T;
    template <class U>
    struct rebind {
        using other = populated_allocator<U>;
    };
    static constexpr std::size_t kPopulateFrom = std::size_t{16} << 10;

    populated_allocator() = default;
    template <class U>
    populated_allocator(const populated_allocator<U>&) noexcept {}  // NOLINT: rebinding

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        void* p = std::malloc(bytes == 0 ? 1 : bytes);
        if (p == nullptr) throw std::bad_alloc();
        if (bytes >= kPopulateFrom) populate_pages(p, bytes, false);
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }

    template <class U>
    bool operator==(const populated_allocator<U>&) const noexcept {
        return true;
    }
};

// A vector for per-pixel data.
template <class T>
using large_vector = std::vector<T, large_allocator<T>>;
// A vector for per-pixel data of which a run touches only parts.
template <class T>
using sparse_vector = std::vector<T, large_allocator<T, block_use::sparse>>;
// A vector for per-pixel data whose every element is written before it is read.
template <class T>
using overwrite_vector = std::vector<T, large_allocator<T, block_use::overwritten>>;

}  // namespace ringgraph
