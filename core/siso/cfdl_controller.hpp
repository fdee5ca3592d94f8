// cfdl_controller.hpp — the compact-form (CFDL) controller: one scalar pseudo partial
// derivative, estimated from the measured increments at every sample.
#pragma once

#include "core/siso/params_holder.hpp"

namespace vorn {

// The five values of one CFDL step: u, delta_y, delta_u (= Δu(k−1)), e, phi.
struct CfdlStep {
    double u;
    double delta_y;
    double delta_u;
    double e;
    double phi;
};

// The history part of the state, as saved and restored.
struct CfdlHistory {
    double y_prev;
    double u_prev;
    double u_prev2;
    double phi_hat;
};

class CfdlController : public SisoParamsHolder {
public:
    static Expected<CfdlController, ParamError> create(const SisoParams& params);

    CfdlStep update(double y, double yd);
    void reset();

    double phi_hat() const { return phi_hat_; }
    CfdlHistory history() const { return {y_prev_, u_prev_, u_prev2_, phi_hat_}; }

    void set_phi_hat(double phi) { phi_hat_ = phi_reset_ = phi; }
    void set_initial_phi(double v) { params_.initial_phi = phi_reset_ = v; }

    // The estimate's reset value, which no setter reads back; set alone, params.initial_phi
    // stays. For code that copies a controller whole (the fleets).
    double phi_reset() const { return phi_reset_; }
    void set_phi_reset(double v) { phi_reset_ = v; }

    // Replaces the parameters and the history; the estimate becomes its own reset value.
    void restore(const SisoParams& params, const CfdlHistory& h);

private:
    explicit CfdlController(const SisoParams& params);

    double phi_hat_;
    double phi_reset_;
    double y_prev_ = 0.0;
    double u_prev_;
    double u_prev2_;
};

}  // namespace vorn
