// pfdl_controller.hpp — the partial-form (PFDL) controller: a PPD vector over the last l_u
// input increments, its estimator, its control law and the input history.
#pragma once

#include <cstddef>
#include <vector>

#include "core/checked_size.hpp"
#include "core/siso/control_law.hpp"
#include "core/siso/vector_controller.hpp"

namespace vorn {

// The dynamic state, as exported and imported.
struct PfdlState {
    std::vector<double> u_hist;
    std::vector<double> phi_hat;
    double y_prev;
};

class PfdlController : public PpdVectorController {
public:
    // Bytes a controller built from `params` holds; empty when the count overflows.
    static Size storage_bytes(const SisoParams& params);
    // Requires l_y == 0 and l_u >= 1 (and a storage that does not overflow): else InvalidOrder.
    static Expected<PfdlController, ParamError> create(const SisoParams& params);

    // One control step, its vectors read in place; no allocation.
    StepView update_logged(double y, double yd);
    double update(double y, double yd) { return update_logged(y, yd).u; }
    void reset();

    const std::vector<double>& u_hist() const { return u_hist_; }
    double y_prev() const { return y_prev_; }

    PfdlState export_state() const { return {u_hist_, estimator_.phi_hat(), y_prev_}; }
    // Histories as given; the saved estimate becomes estimate and reset value. Vectors
    // shorter than the update reads are refused, leaving the controller unchanged.
    Status<LengthError> import_state(PfdlState state);

private:
    PfdlController(const SisoParams& params, std::size_t l_u);

    PfdlControlLaw law_;
    std::vector<double> u_hist_;
    double y_prev_ = 0.0;
    std::size_t l_u_;
    std::size_t u_len_;                // l_u + 1
    std::vector<double> delta_h_;      // scratch: ΔH(k−1) of the last step
};

}  // namespace vorn
