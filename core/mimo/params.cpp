// params.cpp — validation and messages of the MIMO parameter record.
#include "core/mimo/params.hpp"

#include "core/shared_rules.hpp"

namespace vorn {

using K = MimoParamError::Kind;
static_assert(static_cast<int>(K::InvalidEta) == static_cast<int>(SharedRule::Eta) &&
              static_cast<int>(K::InvalidOrder) == static_cast<int>(SharedRule::Order));

std::string MimoParamError::message() const {
    switch (kind) {
        case K::InvalidMUpper: return "m_upper 必须为正";
        case K::InvalidMLower: return "m_lower 必须为正";
        case K::InvalidMBounds: return "m_lower 不能大于 m_upper";
        default: return shared_rule_message(static_cast<SharedRule>(kind));
    }
}

namespace {

bool orders_fit(const MimoParams& p, MimoForm form) {
    switch (form) {
        case MimoForm::Compact: return p.l_y == 0 && p.l_u == 1;
        case MimoForm::Partial: return p.l_y == 0 && p.l_u >= 1;
        case MimoForm::Full: return p.l_u >= 1;
    }
    return false;
}

}  // namespace

// Each rule is a rejection test with ordered comparisons, so NaN passes every numeric rule.
Status<MimoParamError> validate(const MimoParams& p, MimoForm form) {
    if (auto rule = failed_step_rule(p.eta, p.mu, p.rho, p.lambda, p.eps)) return MimoParamError{static_cast<K>(*rule)};
    if (p.m_upper <= 0.0) return MimoParamError{K::InvalidMUpper};
    if (p.m_lower <= 0.0) return MimoParamError{K::InvalidMLower};
    if (p.m_lower > p.m_upper) return MimoParamError{K::InvalidMBounds};
    if (!orders_fit(p, form)) return MimoParamError{K::InvalidOrder};
    return std::nullopt;
}

}  // namespace vorn
