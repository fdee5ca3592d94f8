// shared_rules.hpp — what the SISO and MIMO parameter records share in their validation:
// the step-size rules eta, mu, rho, lambda and eps in their fixed order, the pseudo-order
// test, and the one error value with its messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "core/messages.hpp"
#include "core/param_fields.hpp"

namespace vorn {

// Every rule a record can break: the step sizes in checking order and the pseudo-order test
// (both records), the SISO limits, the MIMO bounds; and a configuration file that failed.
enum class ParamRule {
    InvalidEta, InvalidMu, InvalidRho, InvalidLambda, InvalidEps, InvalidOrder,
    InvalidLimits, InvalidMUpper, InvalidMLower, InvalidMBounds, Yaml,
};

// The message of each rule, in ParamRule's order.
inline constexpr const char* kRuleMessages[] = {
    messages::kEta, messages::kMu, messages::kRho, messages::kLambda, messages::kEps, messages::kOrder,
    "u_min 不能大于 u_max", "m_upper 必须为正", "m_lower 必须为正", "m_lower 不能大于 m_upper",
};
static_assert(std::size(kRuleMessages) == static_cast<std::size_t>(ParamRule::Yaml));

struct ParamError {
    using Kind = ParamRule;
    Kind kind;
    std::string yaml_text;  // the loader's text, for Kind::Yaml only

    static ParamError yaml(std::string text) { return {Kind::Yaml, std::move(text)}; }
    // The whole display text of the error.
    std::string message() const {
        return kind == Kind::Yaml ? "YAML 错误: " + yaml_text : kRuleMessages[static_cast<int>(kind)];
    }
};

// The first step-size rule that record `p` fails. Each rule is a rejection test with
// ordered comparisons, so NaN passes every rule.
template <class Record>
std::optional<ParamRule> failed_step_rule(const Record& p) {
    if (p.eta <= 0.0 || p.eta > 2.0) return ParamRule::InvalidEta;
    if (p.mu <= 0.0) return ParamRule::InvalidMu;
    if (p.rho <= 0.0 || p.rho > 1.0) return ParamRule::InvalidRho;
    if (p.lambda <= 0.0) return ParamRule::InvalidLambda;
    if (p.eps <= 0.0) return ParamRule::InvalidEps;
    return std::nullopt;
}

// The pseudo-order test of each form: compact l_y = 0 and l_u = 1, partial l_y = 0 and
// l_u >= 1, full l_u >= 1.
constexpr bool orders_fit(DlForm form, std::uint64_t l_y, std::uint64_t l_u) {
    if (form == DlForm::Full) return l_u >= 1;
    return l_y == 0 && (form == DlForm::Compact ? l_u == 1 : l_u >= 1);
}

}  // namespace vorn
