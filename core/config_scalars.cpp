// config_scalars.cpp — numbers, unsigned integers and nulls as the configuration file
// spells them; locale independent and correctly rounded.
#include "core/config_scalars.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace vorn {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Saturating a * 10 + d for the exponent digits, so absurd exponents stay ordered.
std::int64_t push_digit(std::int64_t a, int d) {
    constexpr std::int64_t cap = std::numeric_limits<std::int64_t>::max() / 20;
    return a >= cap ? cap : a * 10 + d;
}

// Checks sign? (digits ("." digits?)? | "." digits) ([eE] sign? digits)? and reports the
// decimal exponent of the leading nonzero digit (0 when every digit is zero), which tells
// an overflow from an underflow when the conversion is out of range.
bool decimal_shape(std::string_view s, std::int64_t& magnitude) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::int64_t int_digits = 0, lead = -1;  // lead: index among all mantissa digits
    std::int64_t seen = 0;
    for (; i < s.size() && is_digit(s[i]); ++i, ++seen, ++int_digits) {
        if (lead < 0 && s[i] != '0') lead = seen;
    }
    std::int64_t frac_digits = 0;
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && is_digit(s[i]); ++i, ++seen, ++frac_digits) {
            if (lead < 0 && s[i] != '0') lead = seen;
        }
    }
    if (int_digits == 0 && frac_digits == 0) return false;
    std::int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
        if (i == s.size()) return false;
        for (; i < s.size() && is_digit(s[i]); ++i) exponent = push_digit(exponent, s[i] - '0');
        if (negative) exponent = -exponent;
    }
    if (i != s.size()) return false;
    magnitude = lead < 0 ? 0 : (int_digits - 1 - lead) + exponent;
    return true;
}

}  // namespace

std::optional<double> parse_number(std::string_view text) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const bool negative = text.starts_with('-');
    const std::string_view bare = text.substr(negative || text.starts_with('+') ? 1 : 0);
    if (bare == ".inf" || bare == ".Inf" || bare == ".INF") return negative ? -inf : inf;
    if (text == ".nan" || text == ".NaN" || text == ".NAN") return std::numeric_limits<double>::quiet_NaN();

    std::int64_t magnitude = 0;
    if (!decimal_shape(text, magnitude)) return std::nullopt;
    std::string_view digits = text;
    if (digits.front() == '+') digits.remove_prefix(1);  // the conversion takes no "+"
    double value = 0.0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (end != digits.data() + digits.size()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        if (magnitude > 0) return std::nullopt;  // overflows to infinity: not a number
        return digits.front() == '-' ? -0.0 : 0.0;  // rounds to zero
    }
    if (ec != std::errc{} || std::isinf(value)) return std::nullopt;
    return value;
}

UnsignedResult parse_unsigned(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'o' || text[1] == 'b')) {
        base = text[1] == 'x' ? 16 : text[1] == 'o' ? 8 : 2;
        text.remove_prefix(2);
    }
    // from_chars would take a second sign; the one sign allowed is gone already.
    if (text.empty() || text.front() == '-' || text.front() == '+') return {0, UnsignedError::NotAnInteger};
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (end != text.data() + text.size() || (ec != std::errc{} && ec != std::errc::result_out_of_range)) {
        return {0, UnsignedError::NotAnInteger};
    }
    if (negative) return {0, UnsignedError::Negative};
    if (ec == std::errc::result_out_of_range) return {0, UnsignedError::TooLarge};
    return {value, std::nullopt};
}

bool is_null_spelling(std::string_view text) {
    return text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL";
}

}  // namespace vorn
