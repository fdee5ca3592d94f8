// linalg.hpp — small dense linear algebra on n-entry vectors and n×n matrices stored
// row-major in flat arrays. Every product and sum rounds on its own and sums run in
// index order, so results are reproducible bit for bit.
#pragma once

#include <cstddef>
#include <span>

namespace vorn::linalg {

using Vec = std::span<double>;
using CVec = std::span<const double>;

// out = a − b, entry by entry (out may alias a or b).
void sub(CVec a, CVec b, Vec out);
// out = a + b, entry by entry (out may alias a or b).
void add(CVec a, CVec b, Vec out);
// x = x·s, entry by entry.
void scale(Vec x, double s);

// acc = acc + A·x, where (A·x)_i = Σ_j A(i, j)·x_j starting with the term j = 0.
void add_mat_vec(CVec a, CVec x, Vec acc);
// out = Aᵀ·x, where (Aᵀ·x)_j = Σ_i A(i, j)·x_i starting with the term i = 0.
void mat_t_vec(CVec a, CVec x, Vec out);
// A(i, j) = (r_i·d_j)·f + A(i, j) for every entry.
void add_scaled_outer(Vec a, CVec r, CVec d, double f);

// Σ_i x_i², in index order.
double squared_norm(CVec x);
// Sum over the columns, in column order, of each column's sum of squares in row order.
// `col` is scratch of n entries.
double squared_frobenius(CVec a, Vec col);

// 1 for n = 0, closed forms for n ≤ 3, LU with partial pivoting from n = 4 on.
// `lu` is scratch of n·n entries, used only from n = 4 on.
double determinant(CVec a, std::size_t n, Vec lu);

// 1.0 when the sign bit is clear, −1.0 when it is set, NaN for NaN.
double signum(double x);

}  // namespace vorn::linalg
