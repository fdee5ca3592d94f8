// params.hpp — the MIMO parameter record, the three dynamic-linearisation forms and the
// validation that every MIMO core runs before it is built.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/expected.hpp"
#include "core/param_fields.hpp"

namespace vorn {

enum class MimoForm { Compact, Partial, Full };

struct MimoParams {
    std::uint64_t dim;
    double eta;
    double mu;
    double rho;
    double lambda;
    double eps;
    std::uint64_t l_y;
    std::uint64_t l_u;
    double initial_phi;
    double u0;
    double m_upper;
    double m_lower;
};

// The record as a table, in constructor order.
inline constexpr std::array<Field<MimoParams>, 12> kMimoFields{{
    {.arg = "dim", .kind = FieldKind::Count, .count = &MimoParams::dim},
    {.arg = "eta", .real = &MimoParams::eta},
    {.arg = "mu", .real = &MimoParams::mu},
    {.arg = "rho", .real = &MimoParams::rho},
    {.arg = "lambda_", .real = &MimoParams::lambda},
    {.arg = "eps", .real = &MimoParams::eps},
    {.arg = "l_y", .kind = FieldKind::Count, .count = &MimoParams::l_y},
    {.arg = "l_u", .kind = FieldKind::Count, .count = &MimoParams::l_u},
    {.arg = "initial_phi", .real = &MimoParams::initial_phi},
    {.arg = "u0", .real = &MimoParams::u0},
    {.arg = "m_upper", .real = &MimoParams::m_upper},
    {.arg = "m_lower", .real = &MimoParams::m_lower},
}};

struct MimoParamError {
    enum class Kind {
        // The rules shared with the other record, as SharedRule and in its order.
        InvalidEta,
        InvalidMu,
        InvalidRho,
        InvalidLambda,
        InvalidEps,
        InvalidOrder,
        InvalidMUpper,
        InvalidMLower,
        InvalidMBounds,
    };
    Kind kind;

    // The whole display text of the error.
    std::string message() const;
};

// First failing rule: the numeric rules in field order, then the pseudo-order test of `form`.
Status<MimoParamError> validate(const MimoParams& p, MimoForm form);

}  // namespace vorn
