// vector_controller.hpp — what the partial-form and full-form controllers share: the
// parameter record, the PPD vector estimate with its checked setters, the input history and
// the increment vector, and the form's pseudo-order test, storage count and creation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "core/checked_size.hpp"
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

// The estimate has n = l_y + l_u entries (l_y is 0 in the partial form) and the newest input
// increment at index l_y; ΔH(k−1) holds the l_y output increments, then the l_u input ones.
class PpdVectorController : public SisoParamsHolder {
public:
    const std::vector<double>& phi_hat() const { return estimator_.phi_hat(); }
    const std::vector<double>& initial_phi_vector() const { return estimator_.initial_phi_vector(); }
    const std::vector<double>& u_hist() const { return u_hist_; }

    // Estimate and reset value both become phi. Refused when shorter than min_phi_ (below).
    Status<LengthError> set_phi_hat(std::vector<double> phi);
    // params.initial_phi takes the first entry, the reset value the whole vector.
    Status<LengthError> set_initial_phi(std::vector<double> phi);
    // The reset value alone (params.initial_phi stays), for code that copies a controller
    // whole (the fleets). Refused when shorter than min_phi_.
    Status<LengthError> set_reset_vector(std::vector<double> phi);

protected:
    // `params` passed the form test of `form` and its storage count did not overflow.
    PpdVectorController(const SisoParams& params, DlForm form);

    // Bytes of a controller of `form` built from `params` whose object takes `object_bytes`:
    // the estimate, its reset value and ΔH of n doubles each, the input history of l_u + 1
    // and, in the full form, the output history of l_y + 1. Empty when the count overflows.
    static Size storage_bytes(const SisoParams& params, DlForm form, std::size_t object_bytes);

    // ΔH(k−1)'s input part from the input history.
    void input_increments() {
        for (std::size_t j = 0; j < l_u_; ++j) delta_h_[l_y_ + j] = u_hist_[j] - u_hist_[j + 1];
    }
    // The estimate to its reset value, the input history to u0.
    void reset_inputs() {
        estimator_.restore_initial();
        u_hist_.assign(u_len_, params_.u0);
    }
    // Refuses a saved input history or estimate shorter than the update cycle reads.
    Status<LengthError> check_saved(const std::vector<double>& u_hist, const std::vector<double>& phi_hat) const;
    // Takes a checked input history and estimate; the estimate also becomes the reset value.
    void take_saved(std::vector<double> u_hist, std::vector<double> phi_hat) {
        u_hist_ = std::move(u_hist);
        estimator_.set_phi_hat(std::move(phi_hat));
    }

    std::size_t l_y_, l_u_;
    std::size_t u_len_;  // l_u + 1
    std::size_t min_phi_;  // least length of the estimate that the update cycle reads: 1 partial, n full
    PpdVectorEstimator estimator_;
    std::vector<double> u_hist_;
    std::vector<double> delta_h_;  // scratch: ΔH(k−1) of the last step
};

// The declarations alike in both forms, made once: storage count, creation and the plain
// update. `Derived` offers update_logged and a constructor from a record that passed.
template <class Derived, DlForm F>
class PpdVectorForm : public PpdVectorController {
public:
    // Bytes a controller built from `params` holds; empty when the count overflows.
    static Size storage_bytes(const SisoParams& params) {
        return PpdVectorController::storage_bytes(params, F, sizeof(Derived));
    }
    // InvalidOrder when the pseudo-orders do not fit the form or the storage overflows.
    static Expected<Derived, ParamError> create(const SisoParams& params) {
        if (!orders_fit(F, params.l_y, params.l_u) || !storage_bytes(params)) {
            return ParamError{ParamRule::InvalidOrder, {}};
        }
        return Derived(params);
    }
    // One control step; its input alone.
    double update(double y, double yd) { return static_cast<Derived&>(*this).update_logged(y, yd).u; }

protected:
    explicit PpdVectorForm(const SisoParams& params) : PpdVectorController(params, F) {}
};

}  // namespace vorn
