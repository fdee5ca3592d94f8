// fleet_kernels.hpp — the block steps of the controller fleets, picked once per process for
// the processor it runs on. Every variant gives each member the operations of its single
// controller in the same order (no fused multiply–add): vectors run across members, never
// across the terms of one member's sum, so all variants return the same results.
#pragma once

#include <cstddef>

#include "core/cpu_features.hpp"

namespace vorn::fleet_kernels {

// The parameters the steps read, member i at index i; an absent limit is NaN.
struct StepParams {
    const double *eta, *mu, *rho, *lambda, *eps, *u_min, *u_max;
};

// The compact-form fleet's arrays, member i at index i.
struct CfdlView : StepParams {
    double* phi_hat;
    const double* phi_reset;
    double *y_prev, *u_prev, *u_prev2;
};

// Where a logged compact-form step writes the rest of its record, member i at index i.
struct CfdlLog {
    double *delta_y, *delta_u, *e, *phi;
};

// The vector fleets' arrays: vectors component-major (component k of member i at k·n + i).
struct VectorView : StepParams {
    std::size_t n, l_y, l_u, m, s;  // members, pseudo-orders, components, sign component
    double* phi_hat;
    const double* phi_reset;
    const double* rho_vector;            // full form
    const unsigned char* has_rho_vector;  // full form
    double *u_hist, *y_hist;              // (l_u + 1)×n, (l_y + 1)×n (one row in the partial form)
};

// A logged vector step: per-member arrays, and n×m row-major matrices.
struct VectorLog {
    double *delta_y, *delta_h, *e, *phi;
};

// Steps members [begin, end): y[i] in, u[i] out, yd[i − begin] their set points. With a
// log, the rest of each member's record goes there too.
struct Table {
    void (*cfdl)(const CfdlView&, std::size_t begin, std::size_t end, const double* y, const double* yd, double* u,
                 const CfdlLog* log);
    void (*pfdl)(const VectorView&, std::size_t begin, std::size_t end, const double* y, const double* yd,
                 double* u, const VectorLog* log);
    void (*ffdl)(const VectorView&, std::size_t begin, std::size_t end, const double* y, const double* yd,
                 double* u, const VectorLog* log);
};

using Isa = cpu::Isa;

// The variant for `isa`, or the portable one when the processor lacks it.
Table table_for(Isa isa);
// The widest variant that the processor supports, chosen on first use.
const Table& selected();

}  // namespace vorn::fleet_kernels
