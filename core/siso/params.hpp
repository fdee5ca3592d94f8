// params.hpp — the SISO parameter record, its validation, its error kinds, the input
// clamp shared by every SISO control law, and the record of one control step.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/expected.hpp"
#include "core/siso/step_formulas.hpp"

namespace vorn {

struct SisoParams {
    double eta = 1.0;
    double mu = 1.0;
    double rho = 0.1;
    double lambda = 0.02;
    double eps = 1e-5;
    std::uint64_t l_y = 0;
    std::uint64_t l_u = 1;
    double initial_phi = 0.5;
    double u0 = 0.0;
    std::optional<double> u_min;
    std::optional<double> u_max;
};

struct ParamError {
    enum class Kind {
        InvalidEta,
        InvalidMu,
        InvalidRho,
        InvalidLambda,
        InvalidEps,
        InvalidOrder,
        InvalidLimits,
        Yaml,
    };
    Kind kind;
    std::string yaml_text;  // the loader's text, for Kind::Yaml only

    static ParamError yaml(std::string text) { return {Kind::Yaml, std::move(text)}; }
    // The whole display text of the error.
    std::string message() const;
};

// First failing rule, in the fixed order eta, mu, rho, lambda, eps, limits.
Status<ParamError> validate(const SisoParams& p);

// Lower limit first, then upper limit; a NaN operand yields the other one (maxNum/minNum).
inline double clamp_input(double u, const std::optional<double>& u_min, const std::optional<double>& u_max) {
    return formula::clamp(u, u_min.has_value(), u_min.value_or(0.0), u_max.has_value(), u_max.value_or(0.0));
}

// One SISO control step.
struct StepRecord {
    double u;
    double delta_y;
    std::vector<double> delta_h;
    double e;
    std::vector<double> phi;
};

// One step seen in place: the vectors are the controller's own buffers, valid until its
// next call. Lets a caller read the step without copying it.
struct StepView {
    double u;
    double delta_y;
    std::span<const double> delta_h;
    double e;
    std::span<const double> phi;

    StepRecord record() const {
        return {u, delta_y, {delta_h.begin(), delta_h.end()}, e, {phi.begin(), phi.end()}};
    }
};

}  // namespace vorn
