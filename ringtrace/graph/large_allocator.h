// Allocator for the per-pixel arrays: large blocks come straight from the kernel with
// transparent huge pages requested (a 2048 x 2048 image otherwise spends much of its run
// faulting in 4 KiB pages). Fresh storage reads as zero, and elements are default-
// initialised, so resizing a vector of plain values writes nothing: pages the program
// never touches are never faulted in, and an array whose zero state is what it needs
// costs nothing to prepare.
//
// Sparse storage (the second template argument) is for arrays that a run touches only
// here and there, such as the working arrays of a goal-directed search, which visit a
// corridor of rows in every column: it is left in ordinary 4 KiB pages, so that only the
// pages actually touched are faulted in and cleared, not the 2 MiB around each of them.
// Its default-constructed plain values are never written: they read as zero while fresh.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <vector>

namespace ringgraph {

template <class T, bool Sparse = false>
class large_allocator {
public:
    using value_type = T;
    template <class U>
    struct rebind {
        using other = large_allocator<U, Sparse>;
    };
    static constexpr std::size_t kMapThreshold = std::size_t{1} << 16;
    static constexpr std::size_t kHugeThreshold = std::size_t{1} << 21;

    large_allocator() = default;
    template <class U>
    large_allocator(const large_allocator<U, Sparse>&) noexcept {}  // NOLINT: rebinding

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kMapThreshold) {
            void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
            if (p == nullptr) throw std::bad_alloc();
            return static_cast<T*>(p);
        }
        // Blocks of huge pages fault in 2 MiB at a time; smaller blocks are populated in one
        // call instead of one fault per 4 KiB page.
        const bool huge = !Sparse && bytes >= kHugeThreshold;
        const int populate = Sparse || huge ? 0 : MAP_POPULATE;
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | populate, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        if (huge) madvise(p, bytes, MADV_HUGEPAGE);
        if (Sparse) madvise(p, bytes, MADV_NOHUGEPAGE);
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kMapThreshold) {
            std::free(p);
        } else {
            munmap(p, bytes);
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
    bool operator==(const large_allocator<U, Sparse>&) const noexcept {
        return true;
    }
};

// A vector for per-pixel data.
template <class T>
using large_vector = std::vector<T, large_allocator<T>>;
// A vector for per-pixel data of which a run touches only parts.
template <class T>
using sparse_vector = std::vector<T, large_allocator<T, true>>;

}  // namespace ringgraph
