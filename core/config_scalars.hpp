// config_scalars.hpp — the configuration file's own rules for plain scalars: numbers,
// unsigned integers in four bases, and the spellings of null.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vorn {

// Decimal or exponent notation with an optional sign, or one of the spellings of
// infinity and NaN. Empty when the text is no such number or overflows to infinity.
std::optional<double> parse_number(std::string_view text);

// Why an unsigned integer was refused.
enum class UnsignedError { NotAnInteger, Negative, TooLarge };

struct UnsignedResult {
    std::uint64_t value = 0;
    std::optional<UnsignedError> error;
};

// Decimal digits, or "0x" / "0o" / "0b" and digits of that base, optionally after "+";
// the value must fit in 64 bits.
UnsignedResult parse_unsigned(std::string_view text);

// An empty value, "~", "null", "Null" or "NULL".
bool is_null_spelling(std::string_view text);

}  // namespace vorn
