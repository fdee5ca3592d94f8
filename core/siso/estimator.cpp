// estimator.cpp — the projection step and reset rule of the PPD vector estimate.
#include "core/siso/estimator.hpp"

#include "core/formulas/step.h"

#include <algorithm>
#include <cmath>

namespace vorn {

PpdVectorEstimator::PpdVectorEstimator(double initial_phi, std::size_t n, std::size_t sign_index)
    : phi_hat_(n, initial_phi),
      initial_phi_vector_(n, initial_phi),
      sign_index_(sign_index) {}

void PpdVectorEstimator::set_phi_hat(std::vector<double> phi) {
    initial_phi_vector_ = phi;
    phi_hat_ = std::move(phi);
}

void PpdVectorEstimator::set_initial_phi_vector(std::vector<double> phi) {
    phi_hat_.reserve(phi.size());
    initial_phi_vector_ = std::move(phi);
}

bool PpdVectorEstimator::update(const SisoParams& p, double delta_y, const std::vector<double>& delta_h) {
    const std::size_t h = delta_h.size();
    const std::size_t m = std::min(h, phi_hat_.size());
    const std::size_t s = sign_index_;

    double norm2 = -0.0;
    for (std::size_t i = 0; i < h; ++i) norm2 = vorn_add_product(norm2, delta_h[i], delta_h[i]);
    double dot = -0.0;
    for (std::size_t i = 0; i < m; ++i) dot = vorn_add_product(dot, phi_hat_[i], delta_h[i]);
    const double step = vorn_ppd_step(delta_y, dot, p.eta, p.mu, norm2);

    // Reset test: the first condition that holds decides; NaN makes each comparison false.
    bool reset = vorn_ppd_increments_vanish(p.eps, norm2);
    if (!reset) {
        if (s >= m) return false;
        const double c_s = vorn_ppd_candidate(delta_h[s], step, phi_hat_[s]);
        reset = vorn_ppd_candidate_vanishes(p.eps, c_s);
        if (!reset) {
            if (s >= initial_phi_vector_.size()) return false;
            reset = vorn_ppd_sign_changes(c_s, initial_phi_vector_[s]);
        }
    }

    if (reset) {
        restore_initial();
        return true;
    }
    // Each candidate component depends only on its own old component, so the step runs in place.
    phi_hat_.resize(m);
    for (std::size_t i = 0; i < m; ++i) phi_hat_[i] = vorn_ppd_candidate(delta_h[i], step, phi_hat_[i]);
    return true;
}

}  // namespace vorn
