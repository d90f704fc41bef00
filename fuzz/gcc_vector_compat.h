#pragma once

// Force-included into the kernel sources of the fuzz build only. GCC's two-vector
// __builtin_shuffle (a run-time mask of lane indices) has no clang spelling; this is the
// same operation lane by lane, so the kernels built here compute what GCC's build does.
#ifdef __clang__
#include <cstddef>
#include <utility>

namespace fuzz_compat {
template <typename V, typename M>
inline V shuffle2(V a, V b, M mask) {
    constexpr std::size_t lanes = sizeof(V) / sizeof(std::declval<V>()[0]);
    V result;
    for (std::size_t i = 0; i < lanes; ++i) {
        const auto k = static_cast<std::size_t>(mask[i]) % (2 * lanes);
        result[i] = k < lanes ? a[k] : b[k - lanes];
    }
    return result;
}
}  // namespace fuzz_compat

#define __builtin_shuffle(a, b, ...) ::fuzz_compat::shuffle2((a), (b), (__VA_ARGS__))
#endif
