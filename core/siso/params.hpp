// params.hpp — the SISO parameter record, its validation, the input clamp shared by every
// SISO control law, and the view of one control step. The fields' defaults are those of the
// record's table (param_table.hpp).
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/expected.hpp"
#include "core/param_fields.hpp"
#include "core/shared_rules.hpp"
#include "core/formulas/step.hpp"

namespace vorn {

struct SisoParams {
    // The defaults of the compact form, which are also the loader's.
    SisoParams();
    // The defaults of `form`.
    explicit SisoParams(DlForm form);

    double eta, mu, rho, lambda, eps;
    std::uint64_t l_y, l_u;
    double initial_phi, u0;
    std::optional<double> u_min;
    std::optional<double> u_max;
};

// First failing rule, in the fixed order eta, mu, rho, lambda, eps, limits.
Status<ParamError> validate(const SisoParams& p);

// Lower limit first, then upper limit; a NaN operand yields the other one (maxNum/minNum).
inline double clamp_input(double u, const std::optional<double>& u_min, const std::optional<double>& u_max) {
    return vorn_clamp(u, u_min.value_or(formula::kNoLimit), u_max.value_or(formula::kNoLimit));
}

// One step seen in place: the vectors are the controller's own buffers, valid until its
// next call. Lets a caller read the step without copying it.
struct StepView {
    double u;
    double delta_y;
    std::span<const double> delta_h;
    double e;
    std::span<const double> phi;
};

}  // namespace vorn
