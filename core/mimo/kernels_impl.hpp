// kernels_impl.hpp — the bodies of the matrix passes, written once over a vector width W
// and instantiated by kernels.cpp for each instruction set it dispatches to. Vectors run
// across the columns of a row, where entries are independent; each entry still takes its
// products and sums one by one, in the order of the scalar formulas of
// core/formulas/mimo_step.h, whose functions the scalar loops call.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "core/formulas/mimo_step.h"
#include "core/mimo/kernels.hpp"

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
    for (; j < len; ++j) dst[j] = vorn_mimo_eliminated(dst[j], l, src[j]);
}

// out_r = A_r·x for the R rows starting at `rows`: R independent chains, each in column order.
template <int R>
VORN_KERNEL void dot_rows(const double* rows, std::size_t n, const double* x, double* out) {
    double acc[R];
    for (int r = 0; r < R; ++r) acc[r] = rows[r * n] * x[0];
    for (std::size_t j = 1; j < n; ++j) {
        const double xj = x[j];
        for (int r = 0; r < R; ++r) acc[r] = vorn_mimo_add_product(acc[r], rows[r * n + j], xj);
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
            as[r] = vorn_mimo_add_product(as[r], v, sj);
            ap[r] = vorn_mimo_add_product(ap[r], v, pj);
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
        for (; r < R; ++r) acc = vorn_mimo_add_product(acc, rows[r * n + j], w[r]);
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
    return vorn_mimo_column_total(col, n);
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
            const double v = vorn_mimo_corrected(row[j], ri, d[j], f);
            row[j] = v;
            col[j] = vorn_mimo_add_product(col[j], v, v);
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
        for (; j < n; ++j) col[j] = vorn_mimo_add_product(col[j], row[j], row[j]);
    }
    return column_total(col, n);
}

// --- LU determinant ----------------------------------------------------------------------
//
// Blocked by panels of kLuPanel columns. Within a panel the columns are eliminated one by
// one as in the textbook algorithm, but only across the panel's own columns, on a
// column-major copy; its row exchanges are applied to the columns right of the panel at
// once. Then, one strip of columns right of the panel at a time, the panel's rows receive
// the updates of its pivots in pivot order (a forward substitution), and every row below
// the same updates, held in registers meanwhile. Each entry so gets exactly the
// subtractions a(r, j) − l(r, k)·u(k, j) of the unblocked elimination, in the same order
// of k: row exchanges only permute rows that an update treats alike.

// A factored panel, by pivot in pivot order: the column of L, from row c0 on, and the
// row of U in the matrix.
struct Panel {
    std::size_t c0;
    std::size_t np;
    std::size_t piv[kLuPanel];  // pivot columns, ascending
    const double* l[kLuPanel];
    const double* u[kLuPanel];
};

template <>
struct Lanes<1> {
    typedef double V;
};

// The R×(NV·W) tile at (r0, j), updated by the first `nq` pivots of the panel.
template <int W, int R, int NV>
VORN_KERNEL void update_tile(double* m, std::size_t n, const Panel& pn, std::size_t nq, std::size_t r0,
                             std::size_t j) {
    using V = typename Lanes<W>::V;
    V acc[R][NV];
    for (int r = 0; r < R; ++r)
        for (int v = 0; v < NV; ++v) load(acc[r][v], m + (r0 + r) * n + j + v * W);
    for (std::size_t q = 0; q < nq; ++q) {
        const double* l = pn.l[q] + (r0 - pn.c0);
        const double* urow = pn.u[q] + j;
        V u[NV];
        for (int v = 0; v < NV; ++v) load(u[v], urow + v * W);
        for (int r = 0; r < R; ++r)
            for (int v = 0; v < NV; ++v) acc[r][v] = acc[r][v] - l[r] * u[v];
    }
    for (int r = 0; r < R; ++r)
        for (int v = 0; v < NV; ++v) store(m + (r0 + r) * n + j + v * W, acc[r][v]);
}

// Columns j … j+NV·W−1: the panel's rows in order (each after the pivot rows above it are
// final), then the rows below the panel, R at a time.
template <int W, int R, int NV>
VORN_KERNEL void update_strip(double* m, std::size_t n, const Panel& pn, std::size_t c1, std::size_t j) {
    std::size_t nq = 0;
    for (std::size_t r = pn.c0; r < c1; ++r) {
        while (nq < pn.np && pn.piv[nq] < r) ++nq;
        update_tile<W, 1, NV>(m, n, pn, nq, r, j);
    }
    std::size_t r0 = c1;
    for (; r0 + R <= n; r0 += R) update_tile<W, R, NV>(m, n, pn, pn.np, r0, j);
    for (; r0 < n; ++r0) update_tile<W, 1, NV>(m, n, pn, pn.np, r0, j);
}

// Index of the first entry of largest magnitude among x[0 … len−1] (len ≥ 1): an entry
// replaces the one found so far only when its magnitude is larger, so NaN never does, and
// nothing replaces a NaN x[0]. Each lane keeps the first of its largest entries; the
// first of the lanes' largest then wins.
template <int W>
VORN_KERNEL std::size_t first_largest(const double* x, std::size_t len) {
    using V = typename Lanes<W>::V;
    const double first = std::fabs(x[0]);
    V best, at, pos;
    for (int k = 0; k < W; ++k) {
        best[k] = -1.0;
        at[k] = 0.0;
        pos[k] = static_cast<double>(1 + k);
    }
    std::size_t i = 1;
    for (; i + W <= len; i += W) {
        V v;
        load(v, x + i);
        const V mag = v < 0.0 ? -v : v;
        const auto larger = mag > best;
        best = larger ? mag : best;
        at = larger ? pos : at;
        pos = pos + static_cast<double>(W);
    }
    double top = first;
    std::size_t p = 0;
    for (int k = 0; k < W; ++k) {
        const auto idx = static_cast<std::size_t>(at[k]);
        if (best[k] > top || (best[k] == top && p != 0 && idx < p)) {
            top = best[k];
            p = idx;
        }
    }
    for (; i < len; ++i) {
        const double mag = std::fabs(x[i]);
        if (mag > top) {
            top = mag;
            p = i;
        }
    }
    return p;
}

// Eliminates columns c0 … c1−1 within themselves, on a column-major copy of rows c0 … n−1
// of those columns in `panel`, where the pivot search, the divisions and the updates run
// down contiguous columns. Records the pivots (a column with a zero pivot is
// skipped) in `pn`, flips `odd` for every row exchange and multiplies `det` by the diagonal.
template <int W>
VORN_KERNEL void factor_panel(double* m, std::size_t n, std::size_t c0, std::size_t c1, double* panel, Panel& pn,
                              bool& odd, double& det) {
    using V = typename Lanes<W>::V;
    const std::size_t rows = n - c0;
    const std::size_t width = c1 - c0;
    for (std::size_t i = 0; i < rows; ++i) {
        const double* src = m + (c0 + i) * n + c0;
        for (std::size_t q = 0; q < width; ++q) panel[q * rows + i] = src[q];
    }
    pn.c0 = c0;
    pn.np = 0;
    for (std::size_t q = 0; q < width; ++q) {
        double* col = panel + q * rows;
        const std::size_t p = q + first_largest<W>(col + q, rows - q);
        const double pivot = col[p];
        if (pivot != 0.0) {
            if (p != q) {
                for (std::size_t k = 0; k < width; ++k) std::swap(panel[k * rows + p], panel[k * rows + q]);
                std::swap_ranges(m + (c0 + p) * n + c1, m + (c0 + p) * n + n, m + (c0 + q) * n + c1);
                odd = !odd;
            }
            pn.piv[pn.np] = c0 + q;
            pn.l[pn.np] = col;
            pn.u[pn.np] = m + (c0 + q) * n;
            ++pn.np;
            // Rows below the pivot: the odd ones first, so that whole vectors end the column.
            const std::size_t below = q + 1;
            const std::size_t even = below + (rows - below) % W;
            for (std::size_t i = below; i < even; ++i) col[i] = col[i] / pivot;
            for (std::size_t i = even; i < rows; i += W) {
                V v;
                load(v, col + i);
                v = v / pivot;
                store(col + i, v);
            }
            // Column k of the panel: a(r, k) − l(r)·u(k), with l the column just divided.
            for (std::size_t k = q + 1; k < width; ++k) {
                double* ck = panel + k * rows;
                const double u = ck[q];
                for (std::size_t r = below; r < even; ++r) ck[r] = vorn_mimo_eliminated(ck[r], col[r], u);
                for (std::size_t r = even; r < rows; r += W) {
                    V a, l;
                    load(a, ck + r);
                    load(l, col + r);
                    a = a - l * u;
                    store(ck + r, a);
                }
            }
        }
        det = det * col[q];
    }
}

template <int W, int R, int NV>
VORN_KERNEL double lu_determinant(double* m, std::size_t n, double* panel) {
    bool odd = false;
    double det = 1.0;
    Panel pn;
    for (std::size_t c0 = 0; c0 < n; c0 += kLuPanel) {
        const std::size_t c1 = std::min(n, c0 + kLuPanel);
        factor_panel<W>(m, n, c0, c1, panel, pn, odd, det);
        if (pn.np == 0) continue;
        std::size_t j = c1;
        for (; j + NV * W <= n; j += NV * W) update_strip<W, R, NV>(m, n, pn, c1, j);
        for (; j + W <= n; j += W) update_strip<W, R, 1>(m, n, pn, c1, j);
        for (; j < n; ++j) update_strip<1, R, 1>(m, n, pn, c1, j);
    }
    return odd ? -det : det;
}

}  // namespace vorn::linalg::simd
