// ffdl_controller.hpp — the full-form (FFDL) controller: a PPD vector over the last l_y
// output and l_u input increments, its estimator, its control law and both histories.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "core/siso/control_law.hpp"
#include "core/siso/vector_controller.hpp"

namespace vorn {

// The dynamic state, as exported and imported.
struct FfdlState {
    std::vector<double> y_hist;
    std::vector<double> u_hist;
    std::vector<double> phi_hat;
    std::optional<std::vector<double>> rho_vector;
};

// Created for l_u >= 1 (PpdVectorForm::create).
class FfdlController : public PpdVectorForm<FfdlController, DlForm::Full> {
public:
    // One control step, its vectors read in place; no allocation.
    StepView update_logged(double y, double yd);
    void reset();

    const std::optional<std::vector<double>>& rho_vector() const { return rho_vector_; }
    const std::vector<double>& y_hist() const { return y_hist_; }

    // Makes the step weights present. Refused when shorter than the estimate must be.
    Status<LengthError> set_rho_vector(std::vector<double> rho);

    FfdlState export_state() const { return {y_hist_, u_hist_, estimator_.phi_hat(), rho_vector_}; }
    // Histories and step weights as given; the saved estimate becomes estimate and reset
    // value. Vectors shorter than the update reads are refused, leaving the controller unchanged.
    Status<LengthError> import_state(FfdlState state);

private:
    friend PpdVectorForm;
    explicit FfdlController(const SisoParams& params)
        : PpdVectorForm(params), y_hist_(l_y_ + 1, 0.0) {}

    std::vector<double> y_hist_;
    std::optional<std::vector<double>> rho_vector_;  // per-component step weights
};

}  // namespace vorn
