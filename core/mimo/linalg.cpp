// linalg.cpp — the vector operations and the determinant of the MIMO update cycle.
#include "core/mimo/linalg.hpp"

#include <algorithm>
#include <cmath>

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
    double s = 0.0;
    for (double v : x) s = s + v * v;
    return s;
}

double determinant(CVec a, std::size_t n, Vec lu, const Kernels& kernels) {
    switch (n) {
        case 0: return 1.0;
        case 1: return a[0];
        case 2: return a[0] * a[3] - a[2] * a[1];
        case 3: {
            const double t0 = a[0] * (a[4] * a[8] - a[7] * a[5]);
            const double t1 = a[1] * (a[3] * a[8] - a[6] * a[5]);
            const double t2 = a[2] * (a[3] * a[7] - a[6] * a[4]);
            return t0 - t1 + t2;
        }
        default:
            std::copy(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n * n), lu.begin());
            return kernels.lu_determinant(lu.data(), n, lu.data() + n * n);
    }
}

double signum(double x) {
    if (std::isnan(x)) return x;
    return std::signbit(x) ? -1.0 : 1.0;
}

}  // namespace vorn::linalg
