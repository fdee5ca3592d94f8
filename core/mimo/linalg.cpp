// linalg.cpp — the dense vector and matrix operations of the MIMO update cycle.
#include "core/mimo/linalg.hpp"

#include <cmath>
#include <utility>

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

void add_mat_vec(CVec a, CVec x, Vec acc) {
    const std::size_t n = acc.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double* row = a.data() + i * n;
        double dot = row[0] * x[0];
        for (std::size_t j = 1; j < n; ++j) dot = dot + row[j] * x[j];
        acc[i] = acc[i] + dot;
    }
}

// Row by row, so that the matrix is read in storage order; each entry of out still
// receives its terms in row order.
void mat_t_vec(CVec a, CVec x, Vec out) {
    const std::size_t n = out.size();
    if (n == 0) return;
    for (std::size_t j = 0; j < n; ++j) out[j] = a[j] * x[0];
    for (std::size_t i = 1; i < n; ++i) {
        const double* row = a.data() + i * n;
        const double xi = x[i];
        for (std::size_t j = 0; j < n; ++j) out[j] = out[j] + row[j] * xi;
    }
}

void add_scaled_outer(Vec a, CVec r, CVec d, double f) {
    const std::size_t n = r.size();
    for (std::size_t i = 0; i < n; ++i) {
        double* row = a.data() + i * n;
        const double ri = r[i];
        for (std::size_t j = 0; j < n; ++j) row[j] = (ri * d[j]) * f + row[j];
    }
}

double squared_norm(CVec x) {
    double s = 0.0;
    for (double v : x) s = s + v * v;
    return s;
}

// Column sums are accumulated row by row (storage order); each sum starts from +0.0,
// which leaves the first square unchanged.
double squared_frobenius(CVec a, Vec col) {
    const std::size_t n = col.size();
    for (std::size_t j = 0; j < n; ++j) col[j] = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double* row = a.data() + i * n;
        for (std::size_t j = 0; j < n; ++j) col[j] = col[j] + row[j] * row[j];
    }
    double total = 0.0;
    for (std::size_t j = 0; j < n; ++j) total = total + col[j];
    return total;
}

namespace {

double determinant_lu(CVec a, std::size_t n, Vec lu) {
    for (std::size_t k = 0; k < n * n; ++k) lu[k] = a[k];
    double* m = lu.data();
    bool odd = false;
    for (std::size_t c = 0; c < n; ++c) {
        // First entry of largest magnitude in rows c … n−1 of column c.
        std::size_t p = c;
        double best = std::fabs(m[c * n + c]);
        for (std::size_t r = c + 1; r < n; ++r) {
            const double mag = std::fabs(m[r * n + c]);
            if (mag > best) {
                best = mag;
                p = r;
            }
        }
        const double pivot = m[p * n + c];
        if (pivot == 0.0) continue;
        if (p != c) {
            for (std::size_t j = 0; j < n; ++j) std::swap(m[p * n + j], m[c * n + j]);
            odd = !odd;
        }
        for (std::size_t r = c + 1; r < n; ++r) {
            double* row = m + r * n;
            row[c] = row[c] / pivot;
            const double l = row[c];
            const double* prow = m + c * n;
            for (std::size_t j = c + 1; j < n; ++j) row[j] = row[j] - l * prow[j];
        }
    }
    double det = 1.0;
    for (std::size_t i = 0; i < n; ++i) det = det * m[i * n + i];
    return odd ? -det : det;
}

}  // namespace

double determinant(CVec a, std::size_t n, Vec lu) {
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
        default: return determinant_lu(a, n, lu);
    }
}

double signum(double x) {
    if (std::isnan(x)) return x;
    return std::signbit(x) ? -1.0 : 1.0;
}

}  // namespace vorn::linalg
