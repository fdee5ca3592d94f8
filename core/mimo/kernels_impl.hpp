// kernels_impl.hpp — the bodies of the matrix passes, written once over a vector width W
// and instantiated by kernels.cpp for each instruction set it dispatches to. Vectors run
// across the columns of a row, where entries are independent; each entry still takes its
// products and sums one by one, in the order of the scalar formulas.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#define VORN_KERNEL inline __attribute__((always_inline))

namespace vorn::linalg::simd {

template <int W>
struct Lanes;
template <>
struct Lanes<2> {
    typedef double V __attribute__((vector_size(16)));
};
template <>
struct Lanes<4> {
    typedef double V __attribute__((vector_size(32)));
};
template <>
struct Lanes<8> {
    typedef double V __attribute__((vector_size(64)));
};

template <class V>
VORN_KERNEL void load(V& v, const double* p) {
    __builtin_memcpy(&v, p, sizeof v);
}

template <class V>
VORN_KERNEL void store(double* p, const V& v) {
    __builtin_memcpy(p, &v, sizeof v);
}

// dst_j = dst_j − l·src_j for j < len.
template <int W>
VORN_KERNEL void sub_scaled(double* dst, double l, const double* src, std::size_t len) {
    using V = typename Lanes<W>::V;
    std::size_t j = 0;
    for (; j + W <= len; j += W) {
        V d, s;
        load(d, dst + j);
        load(s, src + j);
        d = d - l * s;
        store(dst + j, d);
    }
    for (; j < len; ++j) dst[j] = dst[j] - l * src[j];
}

// out_r = A_r·x for the R rows starting at `rows`: R independent chains, each in column order.
template <int R>
VORN_KERNEL void dot_rows(const double* rows, std::size_t n, const double* x, double* out) {
    double acc[R];
    for (int r = 0; r < R; ++r) acc[r] = rows[r * n] * x[0];
    for (std::size_t j = 1; j < n; ++j) {
        const double xj = x[j];
        for (int r = 0; r < R; ++r) acc[r] = acc[r] + rows[r * n + j] * xj;
    }
    for (int r = 0; r < R; ++r) out[r] = acc[r];
}

// Two products per row, so that each row is read once for both.
template <int R>
VORN_KERNEL void dot2_rows(const double* rows, std::size_t n, const double* xs, const double* xp, double* s,
                           double* p) {
    double as[R], ap[R];
    for (int r = 0; r < R; ++r) {
        as[r] = rows[r * n] * xs[0];
        ap[r] = rows[r * n] * xp[0];
    }
    for (std::size_t j = 1; j < n; ++j) {
        const double sj = xs[j];
        const double pj = xp[j];
        for (int r = 0; r < R; ++r) {
            const double v = rows[r * n + j];
            as[r] = as[r] + v * sj;
            ap[r] = ap[r] + v * pj;
        }
    }
    for (int r = 0; r < R; ++r) {
        s[r] = s[r] + as[r];
        p[r] = ap[r];
    }
}

template <int W>
VORN_KERNEL void feed_and_predict(const double* a, std::size_t n, const double* xs, const double* xp, double* s,
                                  double* p) {
    if (n == 0) return;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) dot2_rows<4>(a + i * n, n, xs, xp, s + i, p + i);
    for (; i < n; ++i) dot2_rows<1>(a + i * n, n, xs, xp, s + i, p + i);
}

// t = t + Σ_{r<R} A_{i+r}·w_{i+r}, row after row for each entry; `first` starts t from
// the product of the first row.
template <int W, int R>
VORN_KERNEL void add_rows_t(const double* rows, std::size_t n, const double* w, double* t, bool first) {
    using V = typename Lanes<W>::V;
    std::size_t j = 0;
    for (; j + W <= n; j += W) {
        V acc, v;
        int r = 0;
        if (first) {
            load(v, rows + j);
            acc = v * w[0];
            r = 1;
        } else {
            load(acc, t + j);
        }
        for (; r < R; ++r) {
            load(v, rows + r * n + j);
            acc = acc + v * w[r];
        }
        store(t + j, acc);
    }
    for (; j < n; ++j) {
        int r = 0;
        double acc;
        if (first) {
            acc = rows[j] * w[0];
            r = 1;
        } else {
            acc = t[j];
        }
        for (; r < R; ++r) acc = acc + rows[r * n + j] * w[r];
        t[j] = acc;
    }
}

template <int W>
VORN_KERNEL void control_and_predict(const double* a, std::size_t n, const double* w, const double* xp, double* t,
                                     double* p) {
    if (n == 0) return;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        add_rows_t<W, 4>(a + i * n, n, w + i, t, i == 0);
        dot_rows<4>(a + i * n, n, xp, p + i);
    }
    for (; i < n; ++i) {
        add_rows_t<W, 1>(a + i * n, n, w + i, t, i == 0);
        dot_rows<1>(a + i * n, n, xp, p + i);
    }
}

// Column sums start from +0.0, which leaves the first square unchanged.
VORN_KERNEL double column_total(const double* col, std::size_t n) {
    double total = 0.0;
    for (std::size_t j = 0; j < n; ++j) total = total + col[j];
    return total;
}

template <int W>
VORN_KERNEL double correct(double* a, std::size_t n, const double* r, const double* d, double f, double* col) {
    using V = typename Lanes<W>::V;
    std::fill(col, col + n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        double* row = a + i * n;
        const double ri = r[i];
        std::size_t j = 0;
        for (; j + W <= n; j += W) {
            V dv, av, cv;
            load(dv, d + j);
            load(av, row + j);
            load(cv, col + j);
            av = (ri * dv) * f + av;
            cv = cv + av * av;
            store(row + j, av);
            store(col + j, cv);
        }
        for (; j < n; ++j) {
            const double v = (ri * d[j]) * f + row[j];
            row[j] = v;
            col[j] = col[j] + v * v;
        }
    }
    return column_total(col, n);
}

template <int W>
VORN_KERNEL double squared_frobenius(const double* a, std::size_t n, double* col) {
    using V = typename Lanes<W>::V;
    std::fill(col, col + n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double* row = a + i * n;
        std::size_t j = 0;
        for (; j + W <= n; j += W) {
            V av, cv;
            load(av, row + j);
            load(cv, col + j);
            cv = cv + av * av;
            store(col + j, cv);
        }
        for (; j < n; ++j) col[j] = col[j] + row[j] * row[j];
    }
    return column_total(col, n);
}

// --- LU determinant ----------------------------------------------------------------------
//
// Blocked by panels of kPanel columns. Within a panel the columns are eliminated one by one
// as in the textbook algorithm, but only across the panel's own columns; the row exchanges
// are applied to the columns right of the panel at once. The panel's rows then receive the
// updates of its pivots in pivot order (a forward substitution), and every entry of the
// trailing block the same updates, held in a register meanwhile. Each entry so gets
// exactly the subtractions a(r, j) − l(r, k)·u(k, j) of the unblocked elimination, in
// the same order of k: row exchanges only permute rows that an update treats alike.

constexpr std::size_t kPanel = 16;

// The R×(NV·W) tile at (r0, j) of the trailing block, updated by the panel's pivots.
template <int W, int R, int NV>
VORN_KERNEL void trailing_tile(double* m, std::size_t n, std::size_t r0, std::size_t j, const std::size_t* piv,
                               std::size_t np) {
    using V = typename Lanes<W>::V;
    V acc[R][NV];
    for (int r = 0; r < R; ++r)
        for (int v = 0; v < NV; ++v) load(acc[r][v], m + (r0 + r) * n + j + v * W);
    for (std::size_t q = 0; q < np; ++q) {
        const std::size_t k = piv[q];
        V u[NV];
        for (int v = 0; v < NV; ++v) load(u[v], m + k * n + j + v * W);
        for (int r = 0; r < R; ++r) {
            const double l = m[(r0 + r) * n + k];
            for (int v = 0; v < NV; ++v) acc[r][v] = acc[r][v] - l * u[v];
        }
    }
    for (int r = 0; r < R; ++r)
        for (int v = 0; v < NV; ++v) store(m + (r0 + r) * n + j + v * W, acc[r][v]);
}

template <int W, int R, int NV>
VORN_KERNEL void trailing_rows(double* m, std::size_t n, std::size_t r0, std::size_t c1, const std::size_t* piv,
                               std::size_t np) {
    std::size_t j = c1;
    for (; j + NV * W <= n; j += NV * W) trailing_tile<W, R, NV>(m, n, r0, j, piv, np);
    for (; j + W <= n; j += W) trailing_tile<W, R, 1>(m, n, r0, j, piv, np);
    for (; j < n; ++j) {
        for (int r = 0; r < R; ++r) {
            double* row = m + (r0 + r) * n;
            double acc = row[j];
            for (std::size_t q = 0; q < np; ++q) acc = acc - row[piv[q]] * m[piv[q] * n + j];
            row[j] = acc;
        }
    }
}

// Eliminates columns c0 … c1−1 within themselves; returns the number of pivots (columns
// with a zero pivot are skipped) and flips `odd` for every row exchange.
VORN_KERNEL std::size_t factor_panel(double* m, std::size_t n, std::size_t c0, std::size_t c1, std::size_t* piv,
                                     bool& odd) {
    std::size_t np = 0;
    for (std::size_t c = c0; c < c1; ++c) {
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
            std::swap_ranges(m + p * n + c0, m + p * n + n, m + c * n + c0);
            odd = !odd;
        }
        piv[np++] = c;
        const double* prow = m + c * n;
        for (std::size_t r = c + 1; r < n; ++r) {
            double* row = m + r * n;
            row[c] = row[c] / pivot;
            const double l = row[c];
            for (std::size_t j = c + 1; j < c1; ++j) row[j] = row[j] - l * prow[j];
        }
    }
    return np;
}

template <int W, int R, int NV>
VORN_KERNEL double lu_determinant(double* m, std::size_t n) {
    bool odd = false;
    std::size_t piv[kPanel];
    for (std::size_t c0 = 0; c0 < n; c0 += kPanel) {
        const std::size_t c1 = std::min(n, c0 + kPanel);
        const std::size_t np = factor_panel(m, n, c0, c1, piv, odd);
        if (c1 == n || np == 0) continue;
        // The panel's rows, right of the panel: each pivot row k updates the rows below it.
        for (std::size_t q = 0; q < np; ++q) {
            const std::size_t k = piv[q];
            for (std::size_t r = k + 1; r < c1; ++r) sub_scaled<W>(m + r * n + c1, m[r * n + k], m + k * n + c1, n - c1);
        }
        std::size_t r0 = c1;
        for (; r0 + R <= n; r0 += R) trailing_rows<W, R, NV>(m, n, r0, c1, piv, np);
        for (; r0 < n; ++r0) trailing_rows<W, 1, NV>(m, n, r0, c1, piv, np);
    }
    double det = 1.0;
    for (std::size_t i = 0; i < n; ++i) det = det * m[i * n + i];
    return odd ? -det : det;
}

}  // namespace vorn::linalg::simd
