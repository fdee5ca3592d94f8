// param_table.hpp — the SISO parameter record as a table: each field's constructor argument,
// pickle key, configuration key, kind and member, in record order.
#pragma once

#include <array>

#include "core/param_fields.hpp"
#include "core/siso/params.hpp"

namespace vorn {

using SisoField = Field<SisoParams>;

inline constexpr std::array<SisoField, 11> kSisoFields{{
    {.arg = "eta", .key = "eta", .yaml = "eta", .kind = FieldKind::Real, .real = &SisoParams::eta},
    {.arg = "mu", .key = "mu", .yaml = "mu", .kind = FieldKind::Real, .real = &SisoParams::mu},
    {.arg = "rho", .key = "rho", .yaml = "rho", .kind = FieldKind::Real, .real = &SisoParams::rho},
    {.arg = "lambda_", .key = "lambda", .yaml = "lambda_", .kind = FieldKind::Real, .real = &SisoParams::lambda},
    {.arg = "eps", .key = "eps", .yaml = "eps", .kind = FieldKind::Real, .real = &SisoParams::eps},
    {.arg = "l_y", .key = "l_y", .yaml = "L_y", .kind = FieldKind::Count, .count = &SisoParams::l_y},
    {.arg = "l_u", .key = "l_u", .yaml = "L_u", .kind = FieldKind::Count, .count = &SisoParams::l_u},
    {.arg = "initial_phi", .key = "initial_phi", .yaml = "initial_phi", .kind = FieldKind::Real,
     .real = &SisoParams::initial_phi},
    {.arg = "u0", .key = "u0", .yaml = "u0", .kind = FieldKind::Real, .real = &SisoParams::u0},
    {.arg = "u_min", .key = "u_min", .yaml = "u_min", .kind = FieldKind::Limit, .limit = &SisoParams::u_min},
    {.arg = "u_max", .key = "u_max", .yaml = "u_max", .kind = FieldKind::Limit, .limit = &SisoParams::u_max},
}};

}  // namespace vorn
