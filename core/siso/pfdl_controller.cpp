// pfdl_controller.cpp — construction, update cycle, reset and state of the PFDL controller.
#include "core/siso/pfdl_controller.hpp"

#include <algorithm>

namespace vorn {

Size PfdlController::storage_bytes(const SisoParams& params) {
    // phi_hat, initial_phi_vector and delta_h hold l_u doubles each, u_hist l_u + 1.
    const Size l_u = to_size(params.l_u);
    const Size doubles = checked_add(checked_mul(l_u, 3), checked_add(l_u, 1));
    return checked_add(doubles_bytes(doubles), sizeof(PfdlController));
}

Expected<PfdlController, ParamError> PfdlController::create(const SisoParams& params) {
    if (params.l_y != 0 || params.l_u < 1 || !storage_bytes(params)) {
        return ParamError{ParamError::Kind::InvalidOrder, {}};
    }
    return PfdlController(params, static_cast<std::size_t>(params.l_u));
}

PfdlController::PfdlController(const SisoParams& params, std::size_t l_u)
    : PpdVectorController(params, l_u, 0, 1),
      law_(l_u),
      u_hist_(l_u + 1, params.u0),
      l_u_(l_u),
      u_len_(l_u + 1),
      delta_h_(l_u, 0.0) {}

StepView PfdlController::update_logged(double y, double yd) {
    const double delta_y = y - y_prev_;
    for (std::size_t j = 0; j < l_u_; ++j) delta_h_[j] = u_hist_[j] - u_hist_[j + 1];
    estimator_.update(params_, delta_y, delta_h_);
    const double u = law_.compute(params_, y, yd, estimator_.phi_hat(), u_hist_);
    push_newest(u_hist_, u_len_, u);
    y_prev_ = y;
    return {u, delta_y, delta_h_, yd - y, estimator_.phi_hat()};
}

void PfdlController::reset() {
    estimator_.restore_initial();
    u_hist_.assign(u_len_, params_.u0);
    y_prev_ = 0.0;
}

Status<LengthError> PfdlController::import_state(PfdlState state) {
    if (auto e = require_length("u_hist", u_len_, state.u_hist.size())) return e;
    if (auto e = require_length("phi_hat", min_phi_, state.phi_hat.size())) return e;
    u_hist_ = std::move(state.u_hist);
    estimator_.set_phi_hat(std::move(state.phi_hat));
    y_prev_ = state.y_prev;
    return std::nullopt;
}

}  // namespace vorn
