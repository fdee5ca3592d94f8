// tuning.hpp — classical tuning data mapped onto PFDL initial PPD vectors and FFDL
// step-factor vectors, and the writers that store them into a controller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/expected.hpp"

namespace vorn {

class PfdlController;
class FfdlController;

struct TuningError {
    enum class Kind {
        UnsupportedOrder,  // the pseudo-order requested or found is outside the rule
        InvalidParameter,  // an argument or the controller state read is not acceptable
    };
    Kind kind;

    // The whole display text of the error.
    std::string message() const;
};

using TuningVector = Expected<std::vector<double>, TuningError>;

// PFDL initial PPD vectors of length `order` (1, 2 or 3).
// Format A: PID gains kp, integral time ti, derivative time td; ts is the sampling period.
TuningVector pid_to_pfdl(double kp, double ti, double td, double ts, std::uint64_t order);
// Format B: reaction-curve model (process gain, time constant, dead time) via the Z-N PID rule.
TuningVector zn_response_to_pfdl(double k, double tau, double time_delay, double ts, std::uint64_t order);
// Format C: critical gain and period via the Z-N critical-proportional rule.
TuningVector critical_proportional_to_pfdl(double ku, double tu, double ts, std::uint64_t order);
// Writes psi as the controller's estimate and reset value; its length must equal l_u.
Status<TuningError> apply_pfdl_initial_guess(PfdlController& controller, const std::vector<double>& psi);

// FFDL step factors (length l_y + 1) from the controller's estimate and lambda; needs
// l_u == 1 and l_y in {1, 2}. The apply_* forms store the result as the rho vector.
TuningVector ffdl_zn_tuning(const FfdlController& controller, double k, double tau, double time_delay, double ts);
Status<TuningError> apply_ffdl_zn_tuning(FfdlController& controller, double k, double tau, double time_delay,
                                         double ts);
TuningVector ffdl_critical_tuning(const FfdlController& controller, double ku, double tu, double ts);
Status<TuningError> apply_ffdl_critical_tuning(FfdlController& controller, double ku, double tu, double ts);

}  // namespace vorn
