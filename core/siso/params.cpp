// params.cpp — the defaults and the validation of the SISO parameter record.
#include "core/siso/params.hpp"

#include "core/siso/param_table.hpp"

namespace vorn {

SisoParams::SisoParams() : SisoParams(DlForm::Compact) {}

SisoParams::SisoParams(DlForm form) { set_defaults(kSisoFields, *this, form); }

Status<ParamError> validate(const SisoParams& p) {
    if (auto rule = failed_step_rule(p)) return ParamError{*rule, {}};
    if (p.u_min && p.u_max && *p.u_min > *p.u_max) return ParamError{ParamRule::InvalidLimits, {}};
    return std::nullopt;
}

}  // namespace vorn
