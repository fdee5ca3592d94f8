// params.cpp — validation and messages of the SISO parameter record.
#include "core/siso/params.hpp"

#include "core/shared_rules.hpp"

namespace vorn {

using K = ParamError::Kind;
static_assert(static_cast<int>(K::InvalidEta) == static_cast<int>(SharedRule::Eta) &&
              static_cast<int>(K::InvalidOrder) == static_cast<int>(SharedRule::Order));

std::string ParamError::message() const {
    if (kind <= K::InvalidOrder) return shared_rule_message(static_cast<SharedRule>(kind));
    if (kind == K::InvalidLimits) return "u_min 不能大于 u_max";
    return "YAML 错误: " + yaml_text;
}

Status<ParamError> validate(const SisoParams& p) {
    if (auto rule = failed_step_rule(p.eta, p.mu, p.rho, p.lambda, p.eps)) return ParamError{static_cast<K>(*rule), {}};
    if (p.u_min && p.u_max && *p.u_min > *p.u_max) return ParamError{K::InvalidLimits, {}};
    return std::nullopt;
}

}  // namespace vorn
