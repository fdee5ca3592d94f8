// kernels.hpp — the matrix passes of the MIMO update cycle in one variant per instruction
// set, and the processor's choice among them. Every variant gives each entry the same
// operations in the same order (no fused multiply–add), so all of them return the same bits.
#pragma once

#include <cstddef>

#include "core/cpu_features.hpp"

namespace vorn::linalg {

// Columns that the LU eliminates together.
constexpr std::size_t kLuPanel = 16;

// Matrices are n×n, row-major; A_i is row i and A_i·x = Σ_j A(i, j)·x_j, in column order
// starting with the term j = 0.
struct Kernels {
    // s_i = s_i + A_i·xs and p_i = A_i·xp for every row i.
    void (*feed_and_predict)(const double* a, std::size_t n, const double* xs, const double* xp, double* s,
                             double* p);
    // t = Aᵀ·w, each entry summed in row order, and p_i = A_i·xp for every row i.
    void (*control_and_predict)(const double* a, std::size_t n, const double* w, const double* xp, double* t,
                                double* p);
    // A(i, j) = (r_i·d_j)·f + A(i, j) for every entry; returns ‖A‖²_F of the result.
    double (*correct)(double* a, std::size_t n, const double* r, const double* d, double f, double* col);
    // ‖A‖²_F: the column sums of squares in row order, added in column order.
    double (*squared_frobenius)(const double* a, std::size_t n, double* col);
    // Determinant of the n×n matrix m by LU with partial pivoting, overwriting m; `panel`
    // is scratch of n·kLuPanel entries.
    double (*lu_determinant)(double* m, std::size_t n, double* panel);
};

// The variants are the instruction sets of the processor module, in order of width.
using KernelVariant = cpu::Isa;
inline constexpr const auto& kKernelVariants = cpu::kIsas;

// "portable", "avx2" or "avx512".
inline const char* variant_name(KernelVariant v) { return cpu::isa_name(v); }
// Whether this build carries the variant and the processor can run it.
inline bool runs_here(KernelVariant v) { return cpu::runs_here(v); }
// The passes of a variant that runs_here; the portable ones for any other.
Kernels kernels_of(KernelVariant v);

// The widest variant that runs here, whose passes every MIMO core takes unless it is given
// others: a property of the machine, decided on the first call.
inline KernelVariant widest_variant() { return cpu::widest(); }

}  // namespace vorn::linalg
