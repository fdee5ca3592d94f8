// pfdl_controller.cpp — update cycle, reset and state of the PFDL controller.
#include "core/siso/pfdl_controller.hpp"

namespace vorn {

StepView PfdlController::update_logged(double y, double yd) {
    const double delta_y = y - y_prev_;
    input_increments();
    estimator_.update(params_, delta_y, delta_h_);
    const double u = pfdl_control(params_, l_u_, y, yd, estimator_.phi_hat(), u_hist_);
    push_newest(u_hist_, u_len_, u);
    y_prev_ = y;
    return {u, delta_y, delta_h_, yd - y, estimator_.phi_hat()};
}

void PfdlController::reset() {
    reset_inputs();
    y_prev_ = 0.0;
}

Status<LengthError> PfdlController::import_state(PfdlState state) {
    if (auto e = check_saved(state.u_hist, state.phi_hat)) return e;
    take_saved(std::move(state.u_hist), std::move(state.phi_hat));
    y_prev_ = state.y_prev;
    return std::nullopt;
}

}  // namespace vorn
