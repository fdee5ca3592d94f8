// params.cpp — validation and messages of the MIMO parameter record.
#include "core/mimo/params.hpp"

#include "core/messages.hpp"

namespace vorn {

std::string MimoParamError::message() const {
    switch (kind) {
        case Kind::InvalidEta: return messages::kEta;
        case Kind::InvalidMu: return messages::kMu;
        case Kind::InvalidRho: return messages::kRho;
        case Kind::InvalidLambda: return messages::kLambda;
        case Kind::InvalidEps: return messages::kEps;
        case Kind::InvalidOrder: return messages::kOrder;
        case Kind::InvalidMUpper: return "m_upper 必须为正";
        case Kind::InvalidMLower: return "m_lower 必须为正";
        case Kind::InvalidMBounds: return "m_lower 不能大于 m_upper";
    }
    return {};
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
    using K = MimoParamError::Kind;
    if (p.eta <= 0.0 || p.eta > 2.0) return MimoParamError{K::InvalidEta};
    if (p.mu <= 0.0) return MimoParamError{K::InvalidMu};
    if (p.rho <= 0.0 || p.rho > 1.0) return MimoParamError{K::InvalidRho};
    if (p.lambda <= 0.0) return MimoParamError{K::InvalidLambda};
    if (p.eps <= 0.0) return MimoParamError{K::InvalidEps};
    if (p.m_upper <= 0.0) return MimoParamError{K::InvalidMUpper};
    if (p.m_lower <= 0.0) return MimoParamError{K::InvalidMLower};
    if (p.m_lower > p.m_upper) return MimoParamError{K::InvalidMBounds};
    if (!orders_fit(p, form)) return MimoParamError{K::InvalidOrder};
    return std::nullopt;
}

}  // namespace vorn
