// ffdl_controller.cpp — update cycle, reset, step weights and state of the FFDL controller.
#include "core/siso/ffdl_controller.hpp"

namespace vorn {

StepView FfdlController::update_logged(double y, double yd) {
    const double delta_y = y - y_hist_[0];
    for (std::size_t i = 0; i < l_y_; ++i) delta_h_[i] = y_hist_[i] - y_hist_[i + 1];
    input_increments();
    estimator_.update(params_, delta_y, delta_h_);
    const double u = ffdl_control(params_, l_y_, l_u_, y, yd, estimator_.phi_hat(), y_hist_, u_hist_, rho_vector_);
    push_newest(u_hist_, u_len_, u);
    push_newest(y_hist_, l_y_ + 1, y);
    return {u, delta_y, delta_h_, yd - y, estimator_.phi_hat()};
}

void FfdlController::reset() {
    reset_inputs();
    y_hist_.assign(l_y_ + 1, 0.0);
}

Status<LengthError> FfdlController::set_rho_vector(std::vector<double> rho) {
    if (auto e = require_length("rho", min_phi_, rho.size())) return e;
    rho_vector_ = std::move(rho);
    return std::nullopt;
}

Status<LengthError> FfdlController::import_state(FfdlState state) {
    if (auto e = require_length("y_hist", l_y_ + 1, state.y_hist.size())) return e;
    if (auto e = check_saved(state.u_hist, state.phi_hat)) return e;
    if (state.rho_vector) {
        if (auto e = require_length("rho_vector", min_phi_, state.rho_vector->size())) return e;
    }
    y_hist_ = std::move(state.y_hist);
    take_saved(std::move(state.u_hist), std::move(state.phi_hat));
    rho_vector_ = std::move(state.rho_vector);
    return std::nullopt;
}

}  // namespace vorn
