// Allocator for the per-pixel arrays: large blocks come straight from the kernel with
// transparent huge pages requested (a 2048 x 2048 image otherwise spends much of its run
// faulting in 4 KiB pages). Fresh storage reads as zero, and elements are default-
// initialised, so resizing a vector of plain values writes nothing: pages the program
// never touches are never faulted in, and an array whose zero state is what it needs
// costs nothing to prepare.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

namespace ringgraph {

template <class T>
class large_allocator {
public:
    using value_type = T;
    static constexpr std::size_t kMapThreshold = std::size_t{1} << 16;
    static constexpr std::size_t kHugeThreshold = std::size_t{1} << 21;

    large_allocator() = default;
    template <class U>
    large_allocator(const large_allocator<U>&) noexcept {}  // NOLINT: rebinding

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
        const bool huge = bytes >= kHugeThreshold;
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | (huge ? 0 : MAP_POPULATE),
                       -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        if (huge) madvise(p, bytes, MADV_HUGEPAGE);
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
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(static_cast<Args&&>(args)...);
    }

    template <class U>
    bool operator==(const large_allocator<U>&) const noexcept {
        return true;
    }
};

// A vector for per-pixel data.
template <class T>
using large_vector = std::vector<T, large_allocator<T>>;

}  // namespace ringgraph
