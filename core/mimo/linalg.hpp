// linalg.hpp — the vector operations and the determinant of the MIMO update cycle, on
// n-entry vectors and n×n matrices stored row-major in flat arrays (the matrix passes are
// in kernels.hpp). Every product and sum rounds on its own and sums run in index order,
// so results are reproducible bit for bit.
#pragma once

#include <cstddef>
#include <span>

#include "core/mimo/kernels.hpp"

namespace vorn::linalg {

using Vec = std::span<double>;
using CVec = std::span<const double>;

// out = a − b, entry by entry (out may alias a or b).
void sub(CVec a, CVec b, Vec out);
// out = a + b, entry by entry (out may alias a or b).
void add(CVec a, CVec b, Vec out);
// x = x·s, entry by entry.
void scale(Vec x, double s);

// Σ_i x_i², in index order.
double squared_norm(CVec x);

// 1 for n = 0, closed forms for n ≤ 3, LU with partial pivoting (`kernels`) from n = 4 on.
// `lu` is scratch of lu_scratch_size(n) entries, used only from n = 4 on.
double determinant(CVec a, std::size_t n, Vec lu, const Kernels& kernels);
// n·n + n·kLuPanel; the caller checks the product for overflow.
inline std::size_t lu_scratch_size(std::size_t n) { return n * n + n * kLuPanel; }

}  // namespace vorn::linalg
