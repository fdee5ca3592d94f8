// pfdl_controller.hpp — the partial-form (PFDL) controller: a PPD vector over the last l_u
// input increments, its estimator, its control law and the input history.
#pragma once

#include <cstddef>
#include <vector>

#include "core/siso/control_law.hpp"
#include "core/siso/vector_controller.hpp"

namespace vorn {

// The dynamic state, as exported and imported.
struct PfdlState {
    std::vector<double> u_hist;
    std::vector<double> phi_hat;
    double y_prev;
};

// Created for l_y == 0 and l_u >= 1 (PpdVectorForm::create).
class PfdlController : public PpdVectorForm<PfdlController, DlForm::Partial> {
public:
    // One control step, its vectors read in place; no allocation.
    StepView update_logged(double y, double yd);
    void reset();

    double y_prev() const { return y_prev_; }

    PfdlState export_state() const { return {u_hist_, estimator_.phi_hat(), y_prev_}; }
    // Histories as given; the saved estimate becomes estimate and reset value. Vectors
    // shorter than the update reads are refused, leaving the controller unchanged.
    Status<LengthError> import_state(PfdlState state);

private:
    friend PpdVectorForm;
    explicit PfdlController(const SisoParams& params) : PpdVectorForm(params) {}

    double y_prev_ = 0.0;
};

}  // namespace vorn
