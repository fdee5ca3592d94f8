// linalg.cpp — the vector operations and the determinant of the MIMO update cycle.
#include "core/mimo/linalg.hpp"

#include <algorithm>

#include "core/formulas/mimo_step.h"

namespace vorn::linalg {

void sub(CVec a, CVec b, Vec out) {
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = a[i] - b[i];
}

void add(CVec a, CVec b, Vec out) {
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = a[i] + b[i];
}

void scale(Vec x, double s) {
    for (double& v : x) v = v * s;
}

double squared_norm(CVec x) {
    return vorn_mimo_squared_norm(x.data(), x.size());
}

double determinant(CVec a, std::size_t n, Vec lu, const Kernels& kernels) {
    if (n <= 3) return vorn_mimo_small_determinant(a.data(), n);
    std::copy(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n * n), lu.begin());
    return kernels.lu_determinant(lu.data(), n, lu.data() + n * n);
}

}  // namespace vorn::linalg
