// vector_fleet.hpp — a fleet of partial-form or full-form controllers stepped together:
// member i is bit for bit the PfdlController (FfdlController) built from member i's
// parameters and given the same samples. Every vector is kept component-major: component
// k of member i at [k·n + i], so a step runs down contiguous memory one component at a time.
#pragma once

#include <cstddef>
#include <vector>

#include "core/forms/state_table.hpp"
#include "core/siso/ffdl_controller.hpp"
#include "core/siso/fleet_base.hpp"
#include "core/siso/pfdl_controller.hpp"

namespace vorn {

// Where a logged step writes its record: per-member arrays, and n×m row-major matrices
// (member i's vector at [i·m, i·m + m)).
using VectorFleetLog = fleet_kernels::VectorLog;

class VectorFleet : public FleetBase {
public:
    using Form = DlForm;  // Partial or Full

    // Bytes a fleet of n members of these pseudo-orders holds; empty when the count overflows.
    static Size storage_bytes(Form form, std::size_t n, std::uint64_t l_y, std::uint64_t l_u);
    // One member per entry of `params` (whose pseudo-orders passed the form test), each in
    // the state its controller has after construction.
    VectorFleet(Form form, FleetParams params);

    // Components of each estimate: l_u (partial form) or l_y + l_u (full form).
    std::size_t components() const { return m_; }
    std::size_t l_y() const { return l_y_; }
    std::size_t l_u() const { return l_u_; }

    // One step of every member: y[i], yd[i] (or yd[0] for all when yd_shared) in, u[i] out.
    void update(const double* y, const double* yd, bool yd_shared, double* u, const VectorFleetLog* log = nullptr);
    void reset();

    // Full form: the step weights, component-major m×n, read where the member's flag is set.
    std::vector<double>& rho_vector() { return rho_vector_; }
    std::vector<unsigned char>& has_rho_vector() { return has_rho_vector_; }
    // (l_u + 1)×n and (l_y + 1)×n; the partial form keeps y_prev as the one row of y_hist.
    std::vector<double>& u_hist() { return u_hist_; }
    std::vector<double>& y_hist() { return y_hist_; }
    // The array that holds one row of the form's state table (core/forms/siso_forms.hpp), and
    // the presence flags of an optional row (the step weights).
    std::vector<double>& state_array(const forms::StateArray& row);
    std::vector<unsigned char>& state_flags(const forms::StateArray&) { return has_rho_vector_; }

    // Member i as a controller of its own, and the reverse; a controller whose vectors or
    // pseudo-orders differ from the fleet's layout is refused, the fleet unchanged.
    PfdlController pfdl_member(std::size_t i) const;
    FfdlController ffdl_member(std::size_t i) const;
    template <class Controller>  // PfdlController or FfdlController
    Status<FleetMismatch> set_member(std::size_t i, const Controller& c);

private:
    std::vector<double> column(const std::vector<double>& a, std::size_t rows, std::size_t i) const;
    void set_column(std::vector<double>& a, const std::vector<double>& v, std::size_t i);

    Form form_;
    std::size_t n_, l_y_, l_u_, m_;
    std::size_t s_;  // sign component: 0, or l_y in the full form
    std::vector<double> rho_vector_;             // full form: m×n, read where the flag is set
    std::vector<unsigned char> has_rho_vector_;  // full form
    std::vector<double> u_hist_;                 // (l_u + 1)×n
    std::vector<double> y_hist_;                 // (l_y + 1)×n; the partial form keeps y_prev as its one row
};

}  // namespace vorn
