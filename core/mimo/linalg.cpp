// linalg.cpp — the determinant of the MIMO update cycle.
#include "core/mimo/linalg.hpp"

#include <algorithm>

#include "core/formulas/mimo_step.h"

namespace vorn::linalg {

double determinant(CVec a, std::size_t n, Vec lu, const Kernels& kernels) {
    if (n <= 3) return vorn_mimo_small_determinant(a.data(), n);
    std::copy(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n * n), lu.begin());
    return kernels.lu_determinant(lu.data(), n, lu.data() + n * n);
}

}  // namespace vorn::linalg
