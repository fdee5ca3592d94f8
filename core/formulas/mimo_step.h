/* mimo_step.h: the arithmetic of one MIMO control step, each formula written once.
 *
 * The MIMO cores and the exported MIMO C call these functions. Matrices are n x n,
 * row-major in flat arrays; A_i is row i. Every product and sum rounds on its own (the
 * builds forbid contraction into fused multiply-adds) and sums run in index order, so the
 * cores' vectorised passes, which give each entry the same operations in the same order,
 * and these scalar loops return the same bits.
 *
 * Plain C99 that also compiles as C++: static inline functions, <math.h> and <stddef.h>
 * only, truth values as int. */
#ifndef VORN_FORMULAS_MIMO_STEP_H
#define VORN_FORMULAS_MIMO_STEP_H

#include <math.h>
#include <stddef.h>

/* --- single entries --- */

/* One term of a running sum: one rounded product, one rounded sum. */
static inline double vorn_mimo_add_product(double sum, double a, double b) { return sum + (a * b); }

/* Entry (i, j) of a corrected layer: (r_i * d_j) * f + a(i, j). */
static inline double vorn_mimo_corrected(double a, double r_i, double d_j, double f) { return ((r_i * d_j) * f) + a; }

/* One step of the LU's elimination: a(r, k) - l(r) * u(k). */
static inline double vorn_mimo_eliminated(double a, double l, double u) { return a - (l * u); }

/* The control law's gain rho / (lambda + |L|^2_F): first the sum, then the quotient. */
static inline double vorn_mimo_gain(double rho, double lambda, double lead_norm2) { return rho / (lambda + lead_norm2); }

/* The estimate corrects only when its denominator exceeds eps (false for NaN). */
static inline int vorn_mimo_corrects(double d, double eps) { return d > eps; }

/* Bound rule: a layer whose squared Frobenius norm leaves [m_lower^2, m_upper^2] returns to
 * the initial matrix; both tests are strict, so a NaN norm keeps the layer. */
static inline int vorn_mimo_out_of_bounds(double n2, double m_upper, double m_lower)
{
    return (n2 > (m_upper * m_upper)) || (n2 < (m_lower * m_lower));
}

/* Compact form: the input increment is too small to learn from (false for a NaN norm). */
static inline int vorn_mimo_increment_vanishes(double du_norm2, double eps) { return sqrt(du_norm2) <= eps; }

/* Compact form: the sign rule applies only where the initial matrix is clearly regular. */
static inline int vorn_mimo_sign_rule_applies(double det0, double eps) { return fabs(det0) > eps; }

/* 1.0 when the sign bit is clear, -1.0 when it is set, NaN for NaN. */
static inline double vorn_mimo_signum(double x)
{
    double s;
    if (isnan(x) != 0) {
        s = x;
    } else if (signbit(x) != 0) {
        s = -1.0;
    } else {
        s = 1.0;
    }
    return s;
}

/* Compact form: the layer's determinant has left the initial matrix's sign (also when
 * either is NaN). */
static inline int vorn_mimo_sign_changes(double det, double det0) { return vorn_mimo_signum(det) != vorn_mimo_signum(det0); }

/* --- vectors and matrices --- */

/* Sum of x_i^2 from +0.0, in index order. */
static inline double vorn_mimo_squared_norm(const double *x, size_t n)
{
    double s = 0.0;
    size_t i;
    for (i = 0; i < n; ++i) {
        s = vorn_mimo_add_product(s, x[i], x[i]);
    }
    return s;
}

/* The column sums of squares added up from +0.0 in column order. */
static inline double vorn_mimo_column_total(const double *col, size_t n)
{
    double total = 0.0;
    size_t j;
    for (j = 0; j < n; ++j) {
        total = total + col[j];
    }
    return total;
}

/* The column sums of squares of a matrix start from +0.0 ... */
static inline void vorn_mimo_clear(double *col, size_t n)
{
    size_t j;
    for (j = 0; j < n; ++j) {
        col[j] = 0.0;
    }
}

/* ... and take the squares of each row in turn. */
static inline void vorn_mimo_add_squares(double *col, const double *row, size_t n)
{
    size_t j;
    for (j = 0; j < n; ++j) {
        col[j] = vorn_mimo_add_product(col[j], row[j], row[j]);
    }
}

/* |A|^2_F: each column's sum of squares in row order, then those in column order. `col` is
 * scratch of n entries. */
static inline double vorn_mimo_squared_frobenius(const double *a, size_t n, double *col)
{
    size_t i;
    vorn_mimo_clear(col, n);
    for (i = 0; i < n; ++i) {
        vorn_mimo_add_squares(col, &a[i * n], n);
    }
    return vorn_mimo_column_total(col, n);
}

/* A_i . x, the first term being the product for j = 0. */
static inline double vorn_mimo_row_dot(const double *row, size_t n, const double *x)
{
    double acc = row[0] * x[0];
    size_t j;
    for (j = 1; j < n; ++j) {
        acc = vorn_mimo_add_product(acc, row[j], x[j]);
    }
    return acc;
}

/* s_i = s_i + A_i . xs and p_i = A_i . xp for every row i (n >= 1). */
static inline void vorn_mimo_feed_and_predict(const double *a, size_t n, const double *xs, const double *xp,
                                              double *s, double *p)
{
    size_t i;
    for (i = 0; i < n; ++i) {
        s[i] = s[i] + vorn_mimo_row_dot(&a[i * n], n, xs);
        p[i] = vorn_mimo_row_dot(&a[i * n], n, xp);
    }
}

/* t = A^T . w, each entry summed in row order from the first row's product, and
 * p_i = A_i . xp for every row i (n >= 1). */
static inline void vorn_mimo_control_and_predict(const double *a, size_t n, const double *w, const double *xp,
                                                 double *t, double *p)
{
    size_t i;
    size_t j;
    for (j = 0; j < n; ++j) {
        t[j] = a[j] * w[0];
    }
    for (i = 1; i < n; ++i) {
        for (j = 0; j < n; ++j) {
            t[j] = vorn_mimo_add_product(t[j], a[(i * n) + j], w[i]);
        }
    }
    for (i = 0; i < n; ++i) {
        p[i] = vorn_mimo_row_dot(&a[i * n], n, xp);
    }
}

/* A(i, j) = (r_i * d_j) * f + A(i, j) for every entry; returns |A|^2_F of the result, its
 * column sums formed row by row as the rows are. `col` is scratch of n entries. */
static inline double vorn_mimo_correct(double *a, size_t n, const double *r, const double *d, double f, double *col)
{
    size_t i;
    size_t j;
    vorn_mimo_clear(col, n);
    for (i = 0; i < n; ++i) {
        double *const row = &a[i * n];
        for (j = 0; j < n; ++j) {
            row[j] = vorn_mimo_corrected(row[j], r[i], d[j], f);
        }
        vorn_mimo_add_squares(col, row, n);
    }
    return vorn_mimo_column_total(col, n);
}

/* --- the determinant of the compact form's sign rule --- */

/* Closed forms for n <= 3 (1.0 for the empty matrix); the caller takes the LU for larger n. */
static inline double vorn_mimo_small_determinant(const double *a, size_t n)
{
    double det;
    if (n == 0U) {
        det = 1.0;
    } else if (n == 1U) {
        det = a[0];
    } else if (n == 2U) {
        det = (a[0] * a[3]) - (a[2] * a[1]);
    } else {
        const double t0 = a[0] * ((a[4] * a[8]) - (a[7] * a[5]));
        const double t1 = a[1] * ((a[3] * a[8]) - (a[6] * a[5]));
        const double t2 = a[2] * ((a[3] * a[7]) - (a[6] * a[4]));
        det = (t0 - t1) + t2;
    }
    return det;
}

/* Row of the first entry of largest magnitude in column q among rows q ... n-1: an entry
 * replaces the one found so far only when its magnitude is larger, so a NaN never does,
 * and nothing replaces a NaN in row q. */
static inline size_t vorn_mimo_pivot_row(const double *m, size_t n, size_t q)
{
    double top = fabs(m[(q * n) + q]);
    size_t p = q;
    size_t i;
    for (i = q + 1U; i < n; ++i) {
        const double mag = fabs(m[(i * n) + q]);
        if (mag > top) {
            top = mag;
            p = i;
        }
    }
    return p;
}

/* Determinant of the n x n matrix m by LU with partial pivoting, overwriting m: for each
 * column in order the pivot row is exchanged in (counted), the entries below the pivot are
 * divided by it and the trailing block loses their products with the pivot row; a zero
 * pivot skips its column. The product of the diagonal, negated for an odd number of
 * exchanges. (The cores eliminate in panels of columns, giving every entry the same
 * subtractions in the same order.) */
static inline double vorn_mimo_lu_determinant(double *m, size_t n)
{
    double det = 1.0;
    int odd = 0;
    size_t q;
    for (q = 0; q < n; ++q) {
        const size_t p = vorn_mimo_pivot_row(m, n, q);
        const double pivot = m[(p * n) + q];
        if (pivot != 0.0) {
            size_t i;
            size_t k;
            if (p != q) {
                for (k = 0; k < n; ++k) {
                    const double t = m[(p * n) + k];
                    m[(p * n) + k] = m[(q * n) + k];
                    m[(q * n) + k] = t;
                }
                if (odd == 0) {
                    odd = 1;
                } else {
                    odd = 0;
                }
            }
            for (i = q + 1U; i < n; ++i) {
                m[(i * n) + q] = m[(i * n) + q] / pivot;
            }
            for (k = q + 1U; k < n; ++k) {
                const double u = m[(q * n) + k];
                for (i = q + 1U; i < n; ++i) {
                    m[(i * n) + k] = vorn_mimo_eliminated(m[(i * n) + k], m[(i * n) + q], u);
                }
            }
        }
        det = det * m[(q * n) + q];
    }
    return (odd != 0) ? -det : det;
}

#endif /* VORN_FORMULAS_MIMO_STEP_H */
