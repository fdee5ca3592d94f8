// cfdl_fleet.hpp — a fleet of compact-form controllers stepped together: member i is bit
// for bit the CfdlController built from member i's parameters and given the same samples.
// State is kept as one array per field so that a step runs down contiguous memory.
#pragma once

#include <cstddef>
#include <vector>

#include "core/forms/state_table.hpp"
#include "core/siso/cfdl_controller.hpp"
#include "core/siso/fleet_base.hpp"

namespace vorn {

// Where a logged step writes its record; each array has one entry per member.
using CfdlFleetLog = fleet_kernels::CfdlLog;

class CfdlFleet : public FleetBase {
public:
    // Bytes a fleet of n members holds; empty when the count overflows.
    static Size storage_bytes(std::size_t n);
    // One member per entry of `params` (whose pseudo-orders passed the CFDL form test), each
    // in the state its controller has after construction.
    explicit CfdlFleet(FleetParams params);

    // One step of every member: y[i], yd[i] (or yd[0] for all when yd_shared) in, u[i] out.
    // `log`, when given, receives the rest of each member's step.
    void update(const double* y, const double* yd, bool yd_shared, double* u, const CfdlFleetLog* log = nullptr);
    void reset();

    // Components of each estimate.
    std::size_t components() const { return 1; }
    std::vector<double>& y_prev() { return y_prev_; }
    std::vector<double>& u_prev() { return u_prev_; }
    std::vector<double>& u_prev2() { return u_prev2_; }
    // The array that holds one row of the form's state table (core/forms/siso_forms.hpp).
    std::vector<double>& state_array(const forms::StateArray& row);

    // Member i as a controller of its own, and the reverse.
    CfdlController member(std::size_t i) const;
    void set_member(std::size_t i, const CfdlController& c);

private:
    std::vector<double> y_prev_, u_prev_, u_prev2_;
};

}  // namespace vorn
