// param_table.hpp — the SISO parameter record described once, as data: each field's
// constructor argument, pickle key, configuration key, kind and member, in record order.
// Constructor arguments, pickling, the printed form and the configuration loader all
// loop over this table, so a new field is one new row.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/siso/params.hpp"

namespace vorn {

enum class FieldKind {
    Real,   // a double
    Count,  // an unsigned 64-bit integer (the pseudo-orders)
    Limit,  // an optional double, absent as None / null
};

struct SisoField {
    const char* arg;   // constructor argument and printed name ("lambda_")
    const char* key;   // pickle state key ("lambda")
    const char* yaml;  // configuration file key ("L_y")
    FieldKind kind;
    // The member, in the pointer that matches `kind`.
    double SisoParams::*real = nullptr;
    std::uint64_t SisoParams::*count = nullptr;
    std::optional<double> SisoParams::*limit = nullptr;
};

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

// fn(member) with field f of p: a double&, std::uint64_t& or std::optional<double>& (const
// when p is).
template <class P, class F>
decltype(auto) with_field(const SisoField& f, P& p, F&& fn) {
    switch (f.kind) {
        case FieldKind::Real: return fn(p.*f.real);
        case FieldKind::Count: return fn(p.*f.count);
        case FieldKind::Limit: break;
    }
    return fn(p.*f.limit);
}

// fn(field, member) for every field in record order, stopping at the first false.
template <class P, class F>
bool all_fields(P& p, F&& fn) {
    for (const SisoField& f : kSisoFields) {
        if (!with_field(f, p, [&](auto& member) -> bool { return fn(f, member); })) return false;
    }
    return true;
}

}  // namespace vorn
