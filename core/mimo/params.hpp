// params.hpp — the MIMO parameter record, the three dynamic-linearisation forms and the
// validation that every MIMO core runs before it is built.
#pragma once

#include <cstdint>
#include <string>

#include "core/expected.hpp"

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
