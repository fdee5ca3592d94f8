// cfdl_fleet.hpp — a fleet of compact-form controllers stepped together: member i is bit
// for bit the CfdlController built from member i's parameters and given the same samples.
// State is kept as one array per field so that a step runs down contiguous memory.
#pragma once

#include <cstddef>
#include <vector>

#include "core/siso/cfdl_controller.hpp"
#include "core/siso/fleet_params.hpp"

namespace vorn {

// Where a logged step writes its record; each array has one entry per member.
struct CfdlFleetLog {
    double* delta_y;
    double* delta_u;
    double* e;
    double* phi;
};

class CfdlFleet {
public:
    // Bytes a fleet of n members holds; empty when the count overflows.
    static Size storage_bytes(std::size_t n);
    // One member per entry of `params` (whose pseudo-orders passed the CFDL form test), each
    // in the state its controller has after construction.
    explicit CfdlFleet(FleetParams params);

    std::size_t size() const { return params_.size(); }

    // One step of every member: y[i], yd[i] (or yd[0] for all when yd_shared) in, u[i] out.
    // `log`, when given, receives the rest of each member's step.
    void update(const double* y, const double* yd, bool yd_shared, double* u, const CfdlFleetLog* log = nullptr);
    void reset();

    FleetParams& params() { return params_; }
    const FleetParams& params() const { return params_; }
    std::vector<double>& phi_hat() { return phi_hat_; }
    std::vector<double>& phi_reset() { return phi_reset_; }
    const std::vector<double>& phi_hat() const { return phi_hat_; }
    std::vector<double>& y_prev() { return y_prev_; }
    std::vector<double>& u_prev() { return u_prev_; }
    std::vector<double>& u_prev2() { return u_prev2_; }

    // Member i as a controller of its own, and the reverse.
    CfdlController member(std::size_t i) const;
    void set_member(std::size_t i, const CfdlController& c);

private:
    template <bool Logged>
    void update_block(std::size_t begin, std::size_t end, const double* y, const double* yd, double* u,
                      const CfdlFleetLog* log);

    FleetParams params_;
    std::vector<double> phi_hat_, phi_reset_;
    std::vector<double> y_prev_, u_prev_, u_prev2_;
};

}  // namespace vorn
