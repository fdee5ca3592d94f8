// ffdl_controller.hpp — the full-form (FFDL) controller: a PPD vector over the last l_y
// output and l_u input increments, its estimator, its control law and both histories.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "core/checked_size.hpp"
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

class FfdlController : public PpdVectorController {
public:
    // Bytes a controller built from `params` holds; empty when the count overflows.
    static Size storage_bytes(const SisoParams& params);
    // Requires l_u >= 1 (and a storage that does not overflow): else InvalidOrder.
    static Expected<FfdlController, ParamError> create(const SisoParams& params);

    // One control step, its vectors read in place; no allocation.
    StepView update_logged(double y, double yd);
    double update(double y, double yd) { return update_logged(y, yd).u; }
    void reset();

    const std::optional<std::vector<double>>& rho_vector() const { return law_.rho_vector(); }
    const std::vector<double>& y_hist() const { return y_hist_; }
    const std::vector<double>& u_hist() const { return u_hist_; }

    // Makes the law's step weights present. Refused when shorter than min_phi_length().
    Status<LengthError> set_rho_vector(std::vector<double> rho);

    FfdlState export_state() const { return {y_hist_, u_hist_, estimator_.phi_hat(), law_.rho_vector()}; }
    // Histories and step weights as given; the saved estimate becomes estimate and reset
    // value. Vectors shorter than the update reads are refused, leaving the controller unchanged.
    Status<LengthError> import_state(FfdlState state);

private:
    FfdlController(const SisoParams& params, std::size_t l_y, std::size_t l_u);

    FfdlControlLaw law_;
    std::vector<double> y_hist_;
    std::vector<double> u_hist_;
    std::size_t l_y_;
    std::size_t l_u_;
    std::size_t y_len_;                // l_y + 1
    std::size_t u_len_;                // l_u + 1
    std::vector<double> delta_h_;      // scratch: ΔH(k−1) of the last step
};

}  // namespace vorn
