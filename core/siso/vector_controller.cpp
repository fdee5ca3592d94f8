// vector_controller.cpp — the checked setters of the PPD vector estimate.
#include "core/siso/vector_controller.hpp"

#include <utility>

namespace vorn {

Status<LengthError> PpdVectorController::set_phi_hat(std::vector<double> phi) {
    if (auto e = require_length("phi", min_phi_, phi.size())) return e;
    estimator_.set_phi_hat(std::move(phi));
    return std::nullopt;
}

Status<LengthError> PpdVectorController::set_initial_phi(std::vector<double> phi) {
    // min_phi_ >= 1, so the first entry exists.
    if (auto e = require_length("initial_phi", min_phi_, phi.size())) return e;
    const double first = phi[0];
    estimator_.set_initial_phi_vector(std::move(phi));  // may fail before changing anything
    params_.initial_phi = first;
    return std::nullopt;
}

Status<LengthError> PpdVectorController::set_reset_vector(std::vector<double> phi) {
    if (auto e = require_length("initial_phi", min_phi_, phi.size())) return e;
    estimator_.set_initial_phi_vector(std::move(phi));
    return std::nullopt;
}

}  // namespace vorn
