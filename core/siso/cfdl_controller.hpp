// cfdl_controller.hpp — the compact-form (CFDL) controller: one scalar pseudo partial
// derivative, estimated from the measured increments at every sample.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/checked_size.hpp"
#include "core/siso/params_holder.hpp"

namespace vorn {

// The five values of one CFDL step: u, delta_y, delta_u (= Δu(k−1)), e, phi.
struct CfdlStep {
    double u, delta_y, delta_u, e, phi;
};

// The history part of the state, as saved and restored.
struct CfdlHistory {
    double y_prev, u_prev, u_prev2, phi_hat;
};

// The estimate given as a vector must hold exactly one entry.
struct PhiCountError {
    std::size_t given;
    std::string message() const { return "CFDL 的 phi_hat 长度必须为 1，实际为 " + std::to_string(given); }
};

class CfdlController : public SisoParamsHolder {
public:
    // Bytes a controller holds: its object alone, whatever the record.
    static Size storage_bytes(const SisoParams&) { return sizeof(CfdlController); }
    // Requires l_y == 0 and l_u == 1: else InvalidOrder.
    static Expected<CfdlController, ParamError> create(const SisoParams& params);

    CfdlStep update(double y, double yd);
    void reset();

    double phi_hat() const { return phi_hat_; }
    // The estimate as a vector of one entry, as the vector forms give theirs.
    std::span<const double> phi_vector() const { return {&phi_hat_, 1}; }
    CfdlHistory history() const { return {y_prev_, u_prev_, u_prev2_, phi_hat_}; }

    void set_phi_hat(double phi) { phi_hat_ = phi_reset_ = phi; }
    // set_phi_hat from a vector of one entry; refused otherwise, changing nothing.
    Status<PhiCountError> set_phi_vector(const std::vector<double>& phi);
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
