// messages.hpp — the parameter messages that the SISO and MIMO validations share.
#pragma once

namespace vorn::messages {

inline constexpr const char* kEta = "eta 必须满足 0 < eta <= 2";
inline constexpr const char* kMu = "mu 必须为正";
inline constexpr const char* kRho = "rho 必须满足 0 < rho <= 1";
inline constexpr const char* kLambda = "lambda 必须为正";
inline constexpr const char* kEps = "eps 必须为正";
inline constexpr const char* kOrder = "伪阶数不满足当前控制器格式要求";

}  // namespace vorn::messages
