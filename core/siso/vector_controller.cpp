// vector_controller.cpp — construction, storage count, saved-state checks and the checked
// setters of the PPD vector estimate.
#include "core/siso/vector_controller.hpp"

#include <utility>

namespace vorn {

PpdVectorController::PpdVectorController(const SisoParams& params, DlForm form)
    : SisoParamsHolder(params),
      l_y_(static_cast<std::size_t>(params.l_y)),
      l_u_(static_cast<std::size_t>(params.l_u)),
      u_len_(l_u_ + 1),
      min_phi_(form == DlForm::Full ? l_y_ + l_u_ : 1),
      estimator_(params.initial_phi, l_y_ + l_u_, l_y_),
      u_hist_(u_len_, params.u0),
      delta_h_(l_y_ + l_u_, 0.0) {}

Size PpdVectorController::storage_bytes(const SisoParams& params, DlForm form, std::size_t object_bytes) {
    const Size l_y = form == DlForm::Full ? to_size(params.l_y) : Size(0);
    const Size l_u = to_size(params.l_u);
    const Size y_hist = form == DlForm::Full ? checked_add(l_y, 1) : Size(0);
    const Size hist = checked_add(y_hist, checked_add(l_u, 1));
    const Size doubles = checked_add(checked_mul(checked_add(l_y, l_u), 3), hist);
    return checked_add(doubles_bytes(doubles), object_bytes);
}

Status<LengthError> PpdVectorController::check_saved(const std::vector<double>& u_hist,
                                                     const std::vector<double>& phi_hat) const {
    if (auto e = require_length("u_hist", u_len_, u_hist.size())) return e;
    return require_length("phi_hat", min_phi_, phi_hat.size());
}

Status<LengthError> PpdVectorController::set_phi_hat(std::vector<double> phi) {
    if (auto e = require_length("phi", min_phi_, phi.size())) return e;
    estimator_.set_phi_hat(std::move(phi));
    return std::nullopt;
}

Status<LengthError> PpdVectorController::set_reset_vector(std::vector<double> phi) {
    if (auto e = require_length("initial_phi", min_phi_, phi.size())) return e;
    estimator_.set_initial_phi_vector(std::move(phi));  // may fail before changing anything
    return std::nullopt;
}

Status<LengthError> PpdVectorController::set_initial_phi(std::vector<double> phi) {
    const double first = phi.empty() ? params_.initial_phi : phi[0];  // kept when phi is refused
    if (auto e = set_reset_vector(std::move(phi))) return e;
    params_.initial_phi = first;
    return std::nullopt;
}

}  // namespace vorn
