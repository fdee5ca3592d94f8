// format.cpp — four-decimal fixed-point formatting and the literals of signature defaults.
#include "python/binding/format.hpp"

#include <charconv>
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

std::string real_literal(double v) {
    char buffer[32];
    std::string s(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
    const std::size_t e = s.find('e');
    if (e == std::string::npos) return s.find('.') == std::string::npos ? s + ".0" : s;
    // "1e-05" → "1e-5", "1e+06" → "1e6".
    std::size_t digit = e + 1;
    if (s[digit] == '+') s.erase(digit, 1);
    if (s[digit] == '-') ++digit;
    while (s[digit] == '0' && digit + 1 < s.size()) s.erase(digit, 1);
    return s;
}

}  // namespace vorn::py
