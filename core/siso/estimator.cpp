// estimator.cpp — the projection step and reset rule of the PPD vector estimate.
#include "core/siso/estimator.hpp"

#include <algorithm>
#include <cmath>

namespace vorn {

PpdVectorEstimator::PpdVectorEstimator(const SisoParams& params, std::size_t n, std::size_t sign_index)
    : params_(params),
      phi_hat_(n, params.initial_phi),
      initial_phi_vector_(n, params.initial_phi),
      sign_index_(sign_index) {}

void PpdVectorEstimator::set_phi_hat(std::vector<double> phi) {
    initial_phi_vector_ = phi;
    phi_hat_ = std::move(phi);
}

bool PpdVectorEstimator::update(double delta_y, const std::vector<double>& delta_h) {
    const std::size_t h = delta_h.size();
    const std::size_t m = std::min(h, phi_hat_.size());
    const std::size_t s = sign_index_;

    double norm2 = -0.0;
    for (std::size_t i = 0; i < h; ++i) norm2 = formula::add_product(norm2, delta_h[i], delta_h[i]);
    double dot = -0.0;
    for (std::size_t i = 0; i < m; ++i) dot = formula::add_product(dot, phi_hat_[i], delta_h[i]);
    const double step = formula::ppd_step(delta_y, dot, params_.eta, params_.mu, norm2);

    // Reset test: the first condition that holds decides; NaN makes each comparison false.
    bool reset = formula::ppd_increments_vanish(params_.eps, norm2);
    if (!reset) {
        if (s >= m) return false;
        const double c_s = formula::ppd_candidate(delta_h[s], step, phi_hat_[s]);
        reset = formula::ppd_candidate_vanishes(params_.eps, c_s);
        if (!reset) {
            if (s >= initial_phi_vector_.size()) return false;
            reset = formula::ppd_sign_changes(c_s, initial_phi_vector_[s]);
        }
    }

    if (reset) {
        phi_hat_ = initial_phi_vector_;
        return true;
    }
    // Each candidate component depends only on its own old component, so the step runs in place.
    phi_hat_.resize(m);
    for (std::size_t i = 0; i < m; ++i) phi_hat_[i] = formula::ppd_candidate(delta_h[i], step, phi_hat_[i]);
    return true;
}

}  // namespace vorn
