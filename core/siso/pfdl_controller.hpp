// pfdl_controller.hpp — the partial-form (PFDL) controller: a PPD vector over the last l_u
// input increments, its estimator, its control law and the input history.
#pragma once

#include <cstddef>
#include <vector>

#include "core/checked_size.hpp"
#include "core/siso/control_law.hpp"
#include "core/siso/estimator.hpp"
#include "core/siso/length_error.hpp"
#include "core/siso/params.hpp"

namespace vorn {

// The dynamic state, as exported and imported.
struct PfdlState {
    std::vector<double> u_hist;
    std::vector<double> phi_hat;
    double y_prev;
};

class PfdlController {
public:
    // Bytes a controller built from `params` holds; empty when the count overflows.
    static Size storage_bytes(const SisoParams& params);
    // Requires l_y == 0 and l_u >= 1 (and a storage that does not overflow): else InvalidOrder.
    static Expected<PfdlController, ParamError> create(const SisoParams& params);

    // One control step; no allocation. Both leave the same state.
    double update(double y, double yd);
    StepRecord update_logged(double y, double yd) { return update_view(y, yd).record(); }
    // The same step, its vectors read in place.
    StepView update_view(double y, double yd);
    void reset();

    const SisoParams& params() const { return params_; }
    const std::vector<double>& phi_hat() const { return estimator_.phi_hat(); }
    std::vector<double> get_phi() const { return estimator_.phi_hat(); }
    const std::vector<double>& initial_phi_vector() const { return estimator_.initial_phi_vector(); }
    const std::vector<double>& u_hist() const { return u_hist_; }
    double y_prev() const { return y_prev_; }

    // Least lengths the update cycle reads.
    std::size_t min_phi_length() const { return 1; }
    std::size_t min_u_hist_length() const { return u_len_; }

    // Estimate and reset value both become phi. Unchecked: the caller guarantees
    // min_phi_length() entries (an update refuses to run otherwise).
    void set_phi_hat(std::vector<double> phi) { estimator_.set_phi_hat(std::move(phi)); }
    Status<LengthError> set_phi_hat_checked(std::vector<double> phi);
    // params.initial_phi takes the first entry, the reset value the whole vector.
    Status<LengthError> set_initial_phi(std::vector<double> phi);
    // The reset value alone (params.initial_phi stays), for code that copies a controller
    // whole (the fleets). Refused when shorter than min_phi_length().
    Status<LengthError> set_reset_vector(std::vector<double> phi) {
        if (auto e = require_length("initial_phi", min_phi_length(), phi.size())) return e;
        estimator_.set_initial_phi_vector(std::move(phi));
        return std::nullopt;
    }

    void set_eta(double v) { params_.eta = v; estimator_.set_eta(v); }
    void set_mu(double v) { params_.mu = v; estimator_.set_mu(v); }
    void set_eps(double v) { params_.eps = v; estimator_.set_eps(v); }
    void set_rho(double v) { params_.rho = v; law_.set_rho(v); }
    void set_lambda(double v) { params_.lambda = v; law_.set_lambda(v); }
    void set_u_min(std::optional<double> v) { params_.u_min = v; law_.set_u_min(v); }
    void set_u_max(std::optional<double> v) { params_.u_max = v; law_.set_u_max(v); }
    void set_u0(double v) { params_.u0 = v; }

    PfdlState export_state() const { return {u_hist_, estimator_.phi_hat(), y_prev_}; }
    // Histories as given; the saved estimate becomes estimate and reset value. Vectors
    // shorter than the update reads are refused, leaving the controller unchanged.
    Status<LengthError> import_state(PfdlState state);

private:
    PfdlController(const SisoParams& params, std::size_t l_u);

    // Only vectors set through the unchecked setter can break these.
    bool lengths_ok() const;
    // Steps 1–7 of the cycle; returns u and leaves delta_y in `delta_y`.
    double step(double y, double yd, double& delta_y);

    SisoParams params_;
    PpdVectorEstimator estimator_;
    PfdlControlLaw law_;
    std::vector<double> u_hist_;
    double y_prev_ = 0.0;
    std::size_t l_u_;
    std::size_t u_len_;                // l_u + 1
    std::vector<double> delta_h_;      // scratch: ΔH(k−1) of the last step
};

}  // namespace vorn
