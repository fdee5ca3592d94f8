// param_table.hpp — the SISO parameter record as a table: each field's constructor argument,
// pickle key, configuration key, kind, member and default per form, in record order.
#pragma once

#include <array>

#include "core/param_fields.hpp"
#include "core/siso/params.hpp"

namespace vorn {

using SisoField = Field<SisoParams>;

inline constexpr std::array<SisoField, 11> kSisoFields{{
    {.arg = "eta", .key = "eta", .yaml = "eta", .real = &SisoParams::eta, .initial = {1.0}},
    {.arg = "mu", .key = "mu", .yaml = "mu", .real = &SisoParams::mu, .initial = {1.0}},
    {.arg = "rho", .key = "rho", .yaml = "rho", .real = &SisoParams::rho, .initial = {0.1}},
    {.arg = "lambda_", .key = "lambda", .yaml = "lambda_", .real = &SisoParams::lambda, .initial = {0.02}},
    {.arg = "eps", .key = "eps", .yaml = "eps", .real = &SisoParams::eps, .initial = {1e-5}},
    {.arg = "l_y", .key = "l_y", .yaml = "L_y", .kind = FieldKind::Count, .count = &SisoParams::l_y,
     .initial = {.compact = 0, .partial = 0, .full = 1}},
    {.arg = "l_u", .key = "l_u", .yaml = "L_u", .kind = FieldKind::Count, .count = &SisoParams::l_u,
     .initial = {.compact = 1, .partial = 2}},
    {.arg = "initial_phi", .key = "initial_phi", .yaml = "initial_phi", .real = &SisoParams::initial_phi,
     .initial = {0.5}},
    {.arg = "u0", .key = "u0", .yaml = "u0", .real = &SisoParams::u0, .initial = {0.0}},
    {.arg = "u_min", .key = "u_min", .yaml = "u_min", .kind = FieldKind::Limit, .limit = &SisoParams::u_min},
    {.arg = "u_max", .key = "u_max", .yaml = "u_max", .kind = FieldKind::Limit, .limit = &SisoParams::u_max},
}};

}  // namespace vorn
