// shared_rules.hpp — the parameter rules that the SISO and MIMO records share: the step
// sizes eta, mu, rho, lambda and eps in their fixed order, and the pseudo-order test,
// with their messages.
#pragma once

#include <optional>

#include "core/messages.hpp"

namespace vorn {

// In checking order; each record's error kinds begin with these, in this order.
enum class SharedRule { Eta, Mu, Rho, Lambda, Eps, Order };

// The first step-size rule that fails. Each rule is a rejection test with ordered
// comparisons, so NaN passes every rule.
inline std::optional<SharedRule> failed_step_rule(double eta, double mu, double rho, double lambda, double eps) {
    if (eta <= 0.0 || eta > 2.0) return SharedRule::Eta;
    if (mu <= 0.0) return SharedRule::Mu;
    if (rho <= 0.0 || rho > 1.0) return SharedRule::Rho;
    if (lambda <= 0.0) return SharedRule::Lambda;
    if (eps <= 0.0) return SharedRule::Eps;
    return std::nullopt;
}

inline const char* shared_rule_message(SharedRule rule) {
    switch (rule) {
        case SharedRule::Eta: return messages::kEta;
        case SharedRule::Mu: return messages::kMu;
        case SharedRule::Rho: return messages::kRho;
        case SharedRule::Lambda: return messages::kLambda;
        case SharedRule::Eps: return messages::kEps;
        case SharedRule::Order: break;
    }
    return messages::kOrder;
}

}  // namespace vorn
