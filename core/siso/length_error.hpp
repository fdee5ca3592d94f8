// length_error.hpp — the refusal of a vector too short for the update cycle that would read it.
#pragma once

#include <cstddef>
#include <string>

#include "core/expected.hpp"

namespace vorn {

struct LengthError {
    std::string name;  // the vector as the caller knows it, e.g. "phi" or "u_hist"
    std::size_t least;
    std::size_t actual;

    // e.g. "phi 长度至少为 3，实际为 2"
    std::string message() const;
};

// Refuses `actual` < `least`.
inline Status<LengthError> require_length(const char* name, std::size_t least, std::size_t actual) {
    if (actual < least) return LengthError{name, least, actual};
    return std::nullopt;
}

}  // namespace vorn
