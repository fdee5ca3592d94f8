// estimator.hpp — the pseudo-partial-derivative vector estimate of the partial and full
// forms: a normalised projection step per sample, with a reset rule.
#pragma once

#include <cstddef>
#include <vector>

#include "core/siso/params.hpp"

namespace vorn {

class PpdVectorEstimator {
public:
    // Both vectors become n copies of initial_phi. `sign_index` is the component of the
    // newest input increment: 0 in the partial form, l_y in the full form.
    PpdVectorEstimator(double initial_phi, std::size_t n, std::size_t sign_index);

    // One correction from the output increment Δy(k) and the increment vector ΔH(k−1), with
    // eta, mu and eps of the owning controller's record `p`. Returns false, changing
    // nothing, when phi_hat, delta_h or initial_phi_vector lacks a component the rule needs
    // (the owning controllers refuse such vectors beforehand).
    bool update(const SisoParams& p, double delta_y, const std::vector<double>& delta_h);

    const std::vector<double>& phi_hat() const { return phi_hat_; }
    const std::vector<double>& initial_phi_vector() const { return initial_phi_vector_; }

    // Both the estimate and its reset value become phi; no length check.
    void set_phi_hat(std::vector<double> phi);
    // Replaces the reset value. The estimate's storage grows to its length here, so that a
    // reset never allocates; if that growth fails (std::bad_alloc) nothing has changed.
    void set_initial_phi_vector(std::vector<double> phi);
    // The estimate returns to its reset value, in storage already large enough.
    void restore_initial() { phi_hat_.assign(initial_phi_vector_.begin(), initial_phi_vector_.end()); }

private:
    std::vector<double> phi_hat_;
    std::vector<double> initial_phi_vector_;
    std::size_t sign_index_;
};

}  // namespace vorn
