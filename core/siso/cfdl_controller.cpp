// cfdl_controller.cpp — creation, one CFDL control step, reset, restore and the estimate's setter.
#include "core/siso/cfdl_controller.hpp"

#include "core/formulas/step.h"

#include <cmath>

namespace vorn {

CfdlController::CfdlController(const SisoParams& params)
    : SisoParamsHolder(params),
      phi_hat_(params.initial_phi),
      phi_reset_(params.initial_phi),
      u_prev_(params.u0),
      u_prev2_(params.u0) {}

Expected<CfdlController, ParamError> CfdlController::create(const SisoParams& params) {
    if (!orders_fit(DlForm::Compact, params.l_y, params.l_u)) return ParamError{ParamRule::InvalidOrder, {}};
    return CfdlController(params);
}

Status<PhiCountError> CfdlController::set_phi_vector(const std::vector<double>& phi) {
    if (phi.size() != 1) return PhiCountError{phi.size()};
    set_phi_hat(phi[0]);
    return std::nullopt;
}

CfdlStep CfdlController::update(double y, double yd) {
    const double dy = y - y_prev_;
    const double du = u_prev_ - u_prev2_;

    // Estimator: normalised projection of the output increment onto the last input increment.
    const double phi_new = vorn_cfdl_candidate(dy, du, phi_hat_, params_.eta, params_.mu);

    // Reset rule: a vanishing estimate or a vanishing input increment restores the reset value.
    const double phi = vorn_cfdl_resets(phi_new, du, params_.eps) ? phi_reset_ : phi_new;
    phi_hat_ = phi;

    const double e = yd - y;
    double u = vorn_cfdl_law(params_.rho, params_.lambda, phi, e, u_prev_);
    u = clamp_input(u, params_.u_min, params_.u_max);

    u_prev2_ = u_prev_;
    u_prev_ = u;
    y_prev_ = y;
    return {u, dy, du, e, phi};
}

void CfdlController::reset() {
    phi_hat_ = phi_reset_;
    y_prev_ = 0.0;
    u_prev_ = u_prev2_ = params_.u0;
}

void CfdlController::restore(const SisoParams& params, const CfdlHistory& h) {
    params_ = params;
    y_prev_ = h.y_prev;
    u_prev_ = h.u_prev;
    u_prev2_ = h.u_prev2;
    phi_hat_ = phi_reset_ = h.phi_hat;
}

}  // namespace vorn
