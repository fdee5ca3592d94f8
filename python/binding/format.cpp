// format.cpp — four-decimal fixed-point formatting.
#include "python/binding/format.hpp"

#include <cmath>
#include <cstdio>

namespace vorn::py {

std::string fixed4(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    // The C library prints the exact binary value rounded to nearest, ties to even.
    const int n = std::snprintf(nullptr, 0, "%.4f", v);
    std::string s(static_cast<std::size_t>(n), '\0');
    std::snprintf(s.data(), s.size() + 1, "%.4f", v);
    return s;
}

}  // namespace vorn::py
