// fleet_block.hpp — how a fleet step walks its members: in blocks small enough that the
// block's scratch stays in the first-level cache, with the set point laid out per member.
#pragma once

#include <algorithm>
#include <cstddef>

namespace vorn {

inline constexpr std::size_t kFleetBlock = 256;

// Calls body(begin, end, yd_block) for consecutive blocks of [0, n); yd_block[i − begin] is
// member i's set point (yd[i], or yd[0] for every member when `shared`).
template <class Body>
void for_each_block(std::size_t n, const double* yd, bool shared, Body&& body) {
    double shared_block[kFleetBlock];
    if (shared) std::fill(shared_block, shared_block + kFleetBlock, yd[0]);
    for (std::size_t b = 0; b < n; b += kFleetBlock) {
        const std::size_t e = std::min(n, b + kFleetBlock);
        body(b, e, shared ? shared_block : yd + b);
    }
}

}  // namespace vorn
