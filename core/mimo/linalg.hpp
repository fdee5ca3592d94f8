// linalg.hpp — the determinant of the MIMO update cycle, on n×n matrices stored row-major
// in flat arrays (the matrix passes are in kernels.hpp, the vector steps in
// update_cycle.hpp). Every product and sum rounds on its own and sums run in index order,
// so results are reproducible bit for bit.
#pragma once

#include <cstddef>
#include <span>

#include "core/mimo/kernels.hpp"

namespace vorn::linalg {

using Vec = std::span<double>;
using CVec = std::span<const double>;

// 1 for n = 0, closed forms for n ≤ 3, LU with partial pivoting (`kernels`) from n = 4 on.
// `lu` is scratch of lu_scratch_size(n) entries, used only from n = 4 on.
double determinant(CVec a, std::size_t n, Vec lu, const Kernels& kernels);
// n·n + n·kLuPanel; the caller checks the product for overflow.
inline std::size_t lu_scratch_size(std::size_t n) { return n * n + n * kLuPanel; }

}  // namespace vorn::linalg
