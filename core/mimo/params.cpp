// params.cpp — validation of the MIMO parameter record.
#include "core/mimo/params.hpp"

namespace vorn {

// Each rule is a rejection test with ordered comparisons, so NaN passes every numeric rule.
Status<MimoParamError> validate(const MimoParams& p, MimoForm form) {
    if (auto rule = failed_step_rule(p)) return MimoParamError{*rule, {}};
    if (p.m_upper <= 0.0) return MimoParamError{ParamRule::InvalidMUpper, {}};
    if (p.m_lower <= 0.0) return MimoParamError{ParamRule::InvalidMLower, {}};
    if (p.m_lower > p.m_upper) return MimoParamError{ParamRule::InvalidMBounds, {}};
    if (!orders_fit(form, p.l_y, p.l_u)) return MimoParamError{ParamRule::InvalidOrder, {}};
    return std::nullopt;
}

}  // namespace vorn
