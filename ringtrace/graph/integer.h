// Exact integer priorities for the queue. Values come from 32-bit ints; the wider
// representation keeps every comparison exact.
#pragma once

#include <compare>
#include <cstdint>

namespace ringgraph {

class integer {
public:
    constexpr integer() = default;
    constexpr integer(int v) : value_(v) {}  // NOLINT(google-explicit-constructor): keys are made from ints
    constexpr int64_t value() const { return value_; }
    constexpr auto operator<=>(const integer&) const = default;

private:
    int64_t value_ = 0;
};

}  // namespace ringgraph
