#pragma once

#include <cstdint>

namespace ringview {

// Larger images are refused before any allocation: the tools that make the inputs
// stop at 16384 pixels a side, and a damaged header may claim anything.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{16384} * 16384;

}  // namespace ringview
