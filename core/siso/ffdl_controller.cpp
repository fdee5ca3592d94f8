// ffdl_controller.cpp — construction, update cycle, reset and state of the FFDL controller.
#include "core/siso/ffdl_controller.hpp"

#include <algorithm>

namespace vorn {

Size FfdlController::storage_bytes(const SisoParams& params) {
    // phi_hat, initial_phi_vector and delta_h hold l_y + l_u doubles each; y_hist l_y + 1,
    // u_hist l_u + 1.
    const Size l_y = to_size(params.l_y);
    const Size l_u = to_size(params.l_u);
    const Size n = checked_add(l_y, l_u);
    const Size hist = checked_add(checked_add(l_y, 1), checked_add(l_u, 1));
    const Size doubles = checked_add(checked_mul(n, 3), hist);
    return checked_add(doubles_bytes(doubles), sizeof(FfdlController));
}

Expected<FfdlController, ParamError> FfdlController::create(const SisoParams& params) {
    if (params.l_u < 1 || !storage_bytes(params)) return ParamError{ParamError::Kind::InvalidOrder, {}};
    return FfdlController(params, static_cast<std::size_t>(params.l_y), static_cast<std::size_t>(params.l_u));
}

FfdlController::FfdlController(const SisoParams& params, std::size_t l_y, std::size_t l_u)
    : PpdVectorController(params, l_y + l_u, l_y, l_y + l_u),
      law_(l_y, l_u),
      y_hist_(l_y + 1, 0.0),
      u_hist_(l_u + 1, params.u0),
      l_y_(l_y),
      l_u_(l_u),
      y_len_(l_y + 1),
      u_len_(l_u + 1),
      delta_h_(l_y + l_u, 0.0) {}

StepView FfdlController::update_logged(double y, double yd) {
    const double delta_y = y - y_hist_[0];
    for (std::size_t i = 0; i < l_y_; ++i) delta_h_[i] = y_hist_[i] - y_hist_[i + 1];
    for (std::size_t j = 0; j < l_u_; ++j) delta_h_[l_y_ + j] = u_hist_[j] - u_hist_[j + 1];
    estimator_.update(params_, delta_y, delta_h_);
    const double u = law_.compute(params_, y, yd, estimator_.phi_hat(), y_hist_, u_hist_);
    push_newest(u_hist_, u_len_, u);
    push_newest(y_hist_, y_len_, y);
    return {u, delta_y, delta_h_, yd - y, estimator_.phi_hat()};
}

void FfdlController::reset() {
    estimator_.restore_initial();
    u_hist_.assign(u_len_, params_.u0);
    y_hist_.assign(y_len_, 0.0);
}

Status<LengthError> FfdlController::set_rho_vector(std::vector<double> rho) {
    if (auto e = require_length("rho", min_phi_, rho.size())) return e;
    law_.set_rho_vector(std::move(rho));
    return std::nullopt;
}

Status<LengthError> FfdlController::import_state(FfdlState state) {
    if (auto e = require_length("y_hist", y_len_, state.y_hist.size())) return e;
    if (auto e = require_length("u_hist", u_len_, state.u_hist.size())) return e;
    if (auto e = require_length("phi_hat", min_phi_, state.phi_hat.size())) return e;
    if (state.rho_vector) {
        if (auto e = require_length("rho_vector", min_phi_, state.rho_vector->size())) return e;
    }
    y_hist_ = std::move(state.y_hist);
    u_hist_ = std::move(state.u_hist);
    estimator_.set_phi_hat(std::move(state.phi_hat));
    law_.replace_rho_vector(std::move(state.rho_vector));
    return std::nullopt;
}

}  // namespace vorn
