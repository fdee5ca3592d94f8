// vector_controller.hpp — what the partial-form and full-form controllers share: the
// parameter record, the PPD vector estimate and the checked setters of its vectors.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "core/siso/estimator.hpp"
#include "core/siso/length_error.hpp"
#include "core/siso/params_holder.hpp"

namespace vorn {

// The newest value enters a history at index 0; the first len − 1 entries move one place up.
inline void push_newest(std::vector<double>& hist, std::size_t len, double newest) {
    std::copy_backward(hist.begin(), hist.begin() + static_cast<std::ptrdiff_t>(len - 1),
                       hist.begin() + static_cast<std::ptrdiff_t>(len));
    hist[0] = newest;
}

class PpdVectorController : public SisoParamsHolder {
public:
    const std::vector<double>& phi_hat() const { return estimator_.phi_hat(); }
    const std::vector<double>& initial_phi_vector() const { return estimator_.initial_phi_vector(); }

    // Least length of the estimate that the update cycle reads.
    std::size_t min_phi_length() const { return min_phi_; }

    // Estimate and reset value both become phi. Refused when shorter than min_phi_length().
    Status<LengthError> set_phi_hat(std::vector<double> phi);
    // params.initial_phi takes the first entry, the reset value the whole vector.
    Status<LengthError> set_initial_phi(std::vector<double> phi);
    // The reset value alone (params.initial_phi stays), for code that copies a controller
    // whole (the fleets). Refused when shorter than min_phi_length().
    Status<LengthError> set_reset_vector(std::vector<double> phi);

protected:
    // The estimate has n entries; `sign_index` as for PpdVectorEstimator; `min_phi` >= 1.
    PpdVectorController(const SisoParams& params, std::size_t n, std::size_t sign_index, std::size_t min_phi)
        : SisoParamsHolder(params), estimator_(params.initial_phi, n, sign_index), min_phi_(min_phi) {}

    PpdVectorEstimator estimator_;
    std::size_t min_phi_;
};

}  // namespace vorn
