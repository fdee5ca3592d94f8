// cfdl_controller.hpp — the compact-form (CFDL) controller: one scalar pseudo partial
// derivative, estimated from the measured increments at every sample.
#pragma once

#include "core/siso/params.hpp"

namespace vorn {

// The five values of one CFDL step: u, delta_y, delta_u (= Δu(k−1)), e, phi.
struct CfdlStep {
    double u;
    double delta_y;
    double delta_u;
    double e;
    double phi;

    StepRecord record() const { return {u, delta_y, {delta_u}, e, {phi}}; }
};

// The history part of the state, as saved and restored.
struct CfdlHistory {
    double y_prev;
    double u_prev;
    double u_prev2;
    double phi_hat;
};

class CfdlController {
public:
    static Expected<CfdlController, ParamError> create(const SisoParams& params);

    CfdlStep update(double y, double yd);
    void reset();

    double get_phi() const { return estimator_.phi_hat; }
    const SisoParams& params() const { return params_; }
    CfdlHistory history() const { return {y_prev_, u_prev_, u_prev2_, estimator_.phi_hat}; }

    void set_phi_hat(double phi) { estimator_.phi_hat = estimator_.phi_reset = phi; }
    void set_eta(double v) { params_.eta = estimator_.params.eta = v; }
    void set_mu(double v) { params_.mu = estimator_.params.mu = v; }
    void set_eps(double v) { params_.eps = estimator_.params.eps = v; }
    void set_rho(double v) { params_.rho = law_.rho = v; }
    void set_lambda(double v) { params_.lambda = law_.lambda = v; }
    void set_u_min(std::optional<double> v) { params_.u_min = law_.u_min = v; }
    void set_u_max(std::optional<double> v) { params_.u_max = law_.u_max = v; }
    void set_u0(double v) { params_.u0 = v; }
    void set_initial_phi(double v) { params_.initial_phi = estimator_.phi_reset = v; }

    // The estimate's reset value, which no setter reads back; set alone, params.initial_phi
    // stays. For code that copies a controller whole (the fleets).
    double phi_reset() const { return estimator_.phi_reset; }
    void set_phi_reset(double v) { estimator_.phi_reset = v; }

    // Replaces the parameters and the history; the estimate becomes its own reset value.
    void restore(const SisoParams& params, const CfdlHistory& h);

private:
    explicit CfdlController(const SisoParams& params);

    struct Estimator {
        SisoParams params;
        double phi_hat;
        double phi_reset;
    };
    SisoParams params_;
    Estimator estimator_;
    SisoParams law_;
    double y_prev_ = 0.0;
    double u_prev_;
    double u_prev2_;
};

}  // namespace vorn
