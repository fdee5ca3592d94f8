// step.hpp — the step arithmetic (step.h) for the C++ core, and the one constant the C
// header cannot spell as a constant expression: the NaN that stands for an absent limit.
#pragma once

#include "core/formulas/step.h"

namespace vorn::formula {

// An absent input limit: vorn_clamp passes over a NaN limit as it would skip that limit.
inline constexpr double kNoLimit = __builtin_nan("");

}  // namespace vorn::formula
