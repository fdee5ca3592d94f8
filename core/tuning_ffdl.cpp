// tuning_ffdl.cpp — FFDL step-factor tuning by the Z-N reaction-curve and
// critical-proportional rules (PI for l_y = 1, PID for l_y = 2).
#include <algorithm>
#include <cstddef>
#include <utility>

#include "core/siso/ffdl_controller.hpp"
#include "core/tuning.hpp"

namespace vorn {

namespace {

using K = TuningError::Kind;

// The checks both rules share, in order: the pseudo-orders (l_u = 1, l_y = 1 or 2), then the
// rule's own argument check (`args_ok`), then an estimate of l_y + 1 entries, none of them zero.
Status<TuningError> check_controller(const FfdlController& controller, bool args_ok) {
    const SisoParams& p = controller.params();
    if (p.l_u != 1 || (p.l_y != 1 && p.l_y != 2)) return TuningError{K::UnsupportedOrder};
    if (!args_ok) return TuningError{K::InvalidParameter};
    const std::vector<double>& phi = controller.phi_hat();
    if (phi.size() != p.l_y + 1) return TuningError{K::InvalidParameter};
    if (std::ranges::find(phi, 0.0) != phi.end()) return TuningError{K::InvalidParameter};  // also catches -0.0
    return std::nullopt;
}

// S = phi_L * phi_L + lambda, phi_L the last element of the estimate.
double common_factor(const FfdlController& controller) {
    const double phi_l = controller.phi_hat().back();
    return phi_l * phi_l + controller.params().lambda;
}

template <class Rule>
Status<TuningError> apply(FfdlController& controller, Rule&& rule) {
    TuningVector rho = rule();
    if (!rho) return rho.error();
    // The rules accept only l_u == 1, so rho has l_y + 1 entries, as many as the estimate.
    (void)controller.set_rho_vector(std::move(rho).value());
    return std::nullopt;
}

}  // namespace

TuningVector ffdl_zn_tuning(const FfdlController& controller, double k, double tau, double time_delay, double ts) {
    const bool args_ok = !(k <= 0.0 || tau <= 0.0 || time_delay <= 0.0 || ts <= 0.0);
    if (auto err = check_controller(controller, args_ok)) return *err;
    const std::vector<double>& phi = controller.phi_hat();
    const double s = common_factor(controller);
    const double m = (k * time_delay) / tau;
    if (controller.params().l_y == 1) {
        return std::vector<double>{
            (s * 0.9) / ((phi[0] * phi[1]) * m),
            (s * (ts * 0.9)) / ((phi[1] * (tau * 3.0)) * m),
        };
    }
    return std::vector<double>{
        (s * ((((0.5 * tau) / ts) + 1.0) * 1.2)) / (m * (phi[2] * phi[0])),
        (s * (tau * (-0.6))) / (m * ((ts * phi[2]) * phi[1])),
        (s * (ts * 0.6)) / ((phi[2] * m) * tau),
    };
}

Status<TuningError> apply_ffdl_zn_tuning(FfdlController& controller, double k, double tau, double time_delay,
                                         double ts) {
    return apply(controller, [&] { return ffdl_zn_tuning(controller, k, tau, time_delay, ts); });
}

TuningVector ffdl_critical_tuning(const FfdlController& controller, double ku, double tu, double ts) {
    const bool args_ok = !(ku <= 0.0 || tu <= 0.0 || ts <= 0.0);
    if (auto err = check_controller(controller, args_ok)) return *err;
    const std::vector<double>& phi = controller.phi_hat();
    const double s = common_factor(controller);
    if (controller.params().l_y == 1) {
        const double kp = ku * 0.45;
        const double ti = tu * 0.83;
        return std::vector<double>{
            (kp * s) / (phi[0] * phi[1]),
            (s * (ts * kp)) / (phi[1] * ti),
        };
    }
    return std::vector<double>{
        (s * (ku * ((((0.125 * tu) / ts) + 1.0) * 0.6))) / (phi[2] * phi[0]),
        (s * (ku * (tu * (-3.0)))) / (((40.0 * ts) * phi[2]) * phi[1]),
        (s * (ts * (ku * 1.2))) / (phi[2] * tu),
    };
}

Status<TuningError> apply_ffdl_critical_tuning(FfdlController& controller, double ku, double tu, double ts) {
    return apply(controller, [&] { return ffdl_critical_tuning(controller, ku, tu, ts); });
}

}  // namespace vorn
