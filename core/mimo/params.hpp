// params.hpp — the MIMO parameter record and its table, the three dynamic-linearisation
// forms and the validation that every MIMO core runs before it is built.
#pragma once

#include <array>
#include <cstdint>

#include "core/expected.hpp"
#include "core/param_fields.hpp"
#include "core/shared_rules.hpp"

namespace vorn {

using MimoForm = DlForm;

struct MimoParams {
    std::uint64_t dim;
    double eta, mu, rho, lambda, eps;
    std::uint64_t l_y, l_u;
    double initial_phi, u0, m_upper, m_lower;
};

// The record as a table, in constructor order; dim has no default.
inline constexpr std::array<Field<MimoParams>, 12> kMimoFields{{
    {.arg = "dim", .kind = FieldKind::Count, .count = &MimoParams::dim},
    {.arg = "eta", .real = &MimoParams::eta, .initial = {1.0}},
    {.arg = "mu", .real = &MimoParams::mu, .initial = {1.0}},
    {.arg = "rho", .real = &MimoParams::rho, .initial = {0.5}},
    {.arg = "lambda_", .real = &MimoParams::lambda, .initial = {0.02}},
    {.arg = "eps", .real = &MimoParams::eps, .initial = {1e-5}},
    {.arg = "l_y", .kind = FieldKind::Count, .count = &MimoParams::l_y, .initial = {.compact = 0, .partial = 0, .full = 1}},
    {.arg = "l_u", .kind = FieldKind::Count, .count = &MimoParams::l_u, .initial = {.compact = 1, .partial = 2}},
    {.arg = "initial_phi", .real = &MimoParams::initial_phi, .initial = {0.5}},
    {.arg = "u0", .real = &MimoParams::u0, .initial = {0.0}},
    {.arg = "m_upper", .real = &MimoParams::m_upper, .initial = {1e6}},
    {.arg = "m_lower", .real = &MimoParams::m_lower, .initial = {1e-6}},
}};

// The MIMO cores report the shared error value.
using MimoParamError = ParamError;

// First failing rule: the numeric rules in field order, then the pseudo-order test of `form`.
Status<MimoParamError> validate(const MimoParams& p, MimoForm form);

}  // namespace vorn
