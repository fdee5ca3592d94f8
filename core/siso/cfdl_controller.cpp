// cfdl_controller.cpp — one CFDL control step, reset and restore.
#include "core/siso/cfdl_controller.hpp"

#include <cmath>

namespace vorn {

CfdlController::CfdlController(const SisoParams& params)
    : params_(params),
      estimator_{params, params.initial_phi, params.initial_phi},
      law_(params),
      u_prev_(params.u0),
      u_prev2_(params.u0) {}

Expected<CfdlController, ParamError> CfdlController::create(const SisoParams& params) {
    if (params.l_y != 0 || params.l_u != 1) return ParamError{ParamError::Kind::InvalidOrder, {}};
    return CfdlController(params);
}

CfdlStep CfdlController::update(double y, double yd) {
    const double dy = y - y_prev_;
    const double du = u_prev_ - u_prev2_;

    // Estimator: normalised projection of the output increment onto the last input increment.
    const SisoParams& ep = estimator_.params;
    const double phi_new = formula::cfdl_candidate(dy, du, estimator_.phi_hat, ep.eta, ep.mu);

    // Reset rule: a vanishing estimate or a vanishing input increment restores the reset value.
    const double phi = formula::cfdl_resets(phi_new, du, ep.eps) ? estimator_.phi_reset : phi_new;
    estimator_.phi_hat = phi;

    const double e = yd - y;
    double u = formula::cfdl_law(law_.rho, law_.lambda, phi, e, u_prev_);
    u = clamp_input(u, law_.u_min, law_.u_max);

    u_prev2_ = u_prev_;
    u_prev_ = u;
    y_prev_ = y;
    return {u, dy, du, e, phi};
}

void CfdlController::reset() {
    estimator_.phi_hat = estimator_.phi_reset;
    y_prev_ = 0.0;
    u_prev_ = u_prev2_ = params_.u0;
}

void CfdlController::restore(const SisoParams& params, const CfdlHistory& h) {
    params_ = estimator_.params = law_ = params;
    y_prev_ = h.y_prev;
    u_prev_ = h.u_prev;
    u_prev2_ = h.u_prev2;
    estimator_.phi_hat = estimator_.phi_reset = h.phi_hat;
}

}  // namespace vorn
