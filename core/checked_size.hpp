// checked_size.hpp — element and byte counts computed without wrap-around, so that
// absurd pseudo-orders or dimensions are refused before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

namespace vorn {

using Size = std::optional<std::size_t>;  // empty: the count overflows a machine word

inline Size checked_add(Size a, Size b) {
    if (!a || !b || *a > std::numeric_limits<std::size_t>::max() - *b) return std::nullopt;
    return *a + *b;
}

inline Size checked_mul(Size a, Size b) {
    if (!a || !b) return std::nullopt;
    if (*a != 0 && *b > std::numeric_limits<std::size_t>::max() / *a) return std::nullopt;
    return *a * *b;
}

// A 64-bit count as a machine word (identity on 64-bit targets).
inline Size to_size(std::uint64_t n) {
    if (n > std::numeric_limits<std::size_t>::max()) return std::nullopt;
    return static_cast<std::size_t>(n);
}

// Bytes taken by `count` doubles.
inline Size doubles_bytes(Size count) { return checked_mul(count, sizeof(double)); }

}  // namespace vorn
