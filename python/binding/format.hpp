// format.hpp — number formatting for printed representations.
#pragma once

#include <string>

namespace vorn::py {

// Fixed-point with four decimals, correctly rounded (ties to even), never in exponent
// form; "NaN", "inf" and "-inf" for the special values.
std::string fixed4(double v);

}  // namespace vorn::py
