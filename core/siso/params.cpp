// params.cpp — validation and messages of the SISO parameter record.
#include "core/siso/params.hpp"

#include "core/messages.hpp"

namespace vorn {

std::string ParamError::message() const {
    switch (kind) {
        case Kind::InvalidEta: return messages::kEta;
        case Kind::InvalidMu: return messages::kMu;
        case Kind::InvalidRho: return messages::kRho;
        case Kind::InvalidLambda: return messages::kLambda;
        case Kind::InvalidEps: return messages::kEps;
        case Kind::InvalidOrder: return messages::kOrder;
        case Kind::InvalidLimits: return "u_min 不能大于 u_max";
        case Kind::Yaml: return "YAML 错误: " + yaml_text;
    }
    return {};
}

// Each rule is a rejection test with ordered comparisons, so NaN passes every rule.
Status<ParamError> validate(const SisoParams& p) {
    using K = ParamError::Kind;
    if (p.eta <= 0.0 || p.eta > 2.0) return ParamError{K::InvalidEta, {}};
    if (p.mu <= 0.0) return ParamError{K::InvalidMu, {}};
    if (p.rho <= 0.0 || p.rho > 1.0) return ParamError{K::InvalidRho, {}};
    if (p.lambda <= 0.0) return ParamError{K::InvalidLambda, {}};
    if (p.eps <= 0.0) return ParamError{K::InvalidEps, {}};
    if (p.u_min && p.u_max && *p.u_min > *p.u_max) return ParamError{K::InvalidLimits, {}};
    return std::nullopt;
}

}  // namespace vorn
