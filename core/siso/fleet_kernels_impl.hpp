// fleet_kernels_impl.hpp — the block steps of the fleets, written once and instantiated by
// fleet_kernels.cpp for each instruction set it dispatches to. Each loop runs over the
// members of one block for one component, so every member's sums still take their terms in
// index order; the arithmetic is the single controllers' (core/formulas/step.h).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/siso/fleet_block.hpp"
#include "core/siso/fleet_kernels.hpp"
#include "core/formulas/step.hpp"

#define VORN_FLEET_KERNEL inline __attribute__((always_inline))
// Members never share storage: the arrays of a block are distinct, rows of one array lie n
// apart, and the caller copies inputs that overlap the output first. So the loops over
// members carry no dependence, which the compiler cannot prove once the bodies are inlined.
#define VORN_MEMBERS_INDEPENDENT _Pragma("GCC ivdep")

namespace vorn::fleet_kernels::body {

// `pick ? a : b` on the bits, without a branch the vectoriser might not turn into a select.
VORN_FLEET_KERNEL double select(bool pick, double a, double b) {
    const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(pick);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & mask) | (std::bit_cast<std::uint64_t>(b) & ~mask));
}

template <bool Logged>
VORN_FLEET_KERNEL void cfdl(const CfdlView& v, std::size_t begin, std::size_t end, const double* __restrict y,
                            const double* __restrict yd, double* __restrict u, const CfdlLog* log) {
    const std::size_t len = end - begin;
    y += begin;
    u += begin;
    const double *__restrict eta = v.eta + begin, *__restrict mu = v.mu + begin, *__restrict rho = v.rho + begin,
                             *__restrict lambda = v.lambda + begin, *__restrict eps = v.eps + begin,
                             *__restrict lo = v.u_min + begin, *__restrict hi = v.u_max + begin,
                             *__restrict phi_reset = v.phi_reset + begin;
    double *__restrict phi_hat = v.phi_hat + begin, *__restrict y_prev = v.y_prev + begin,
                       *__restrict u_prev = v.u_prev + begin, *__restrict u_prev2 = v.u_prev2 + begin;
    VORN_MEMBERS_INDEPENDENT
    for (std::size_t t = 0; t < len; ++t) {
        const double dy = y[t] - y_prev[t];
        const double du = u_prev[t] - u_prev2[t];
        const double phi_new = vorn_cfdl_candidate(dy, du, phi_hat[t], eta[t], mu[t]);
        const double phi = select(vorn_cfdl_resets(phi_new, du, eps[t]), phi_reset[t], phi_new);
        phi_hat[t] = phi;
        const double e = yd[t] - y[t];
        const double raw = vorn_cfdl_law(rho[t], lambda[t], phi, e, u_prev[t]);
        const double next = vorn_clamp(raw, lo[t], hi[t]);
        u[t] = next;
        u_prev2[t] = u_prev[t];
        u_prev[t] = next;
        y_prev[t] = y[t];
        if constexpr (Logged) {
            log->delta_y[begin + t] = dy;
            log->delta_u[begin + t] = du;
            log->e[begin + t] = e;
            log->phi[begin + t] = phi;
        }
    }
}

template <bool Full, bool Logged>
VORN_FLEET_KERNEL void vector(const VectorView& v, std::size_t begin, std::size_t end, const double* __restrict y,
                              const double* __restrict yd, double* __restrict u, const VectorLog* log) {
    const std::size_t n = v.n, m = v.m, l_y = v.l_y, l_u = v.l_u, s = v.s, len = end - begin;
    y += begin;
    u += begin;
    const double *__restrict eta = v.eta + begin, *__restrict mu = v.mu + begin, *__restrict rho = v.rho + begin,
                             *__restrict lambda = v.lambda + begin, *__restrict eps = v.eps + begin,
                             *__restrict lo = v.u_min + begin, *__restrict hi = v.u_max + begin;
    // Row k of a component-major array, from this block's first member.
    double* const phi = v.phi_hat + begin;
    const double* const reset_value = v.phi_reset + begin;
    double* const uh = v.u_hist + begin;
    double* const yh = v.y_hist + begin;
    // Rows (newer, older) whose difference is component k of ΔH(k−1).
    auto increment_rows = [&](std::size_t k) {
        struct Rows {
            const double* newer;
            const double* older;
        };
        if (Full && k < l_y) return Rows{yh + k * n, yh + (k + 1) * n};
        const std::size_t j = Full ? k - l_y : k;
        return Rows{uh + j * n, uh + (j + 1) * n};
    };

    // Scratch, indexed by member − begin.
    double norm2[kFleetBlock], dot[kFleetBlock], step[kFleetBlock], c[kFleetBlock], d[kFleetBlock];
    std::int64_t reset[kFleetBlock];  // 0 or 1, as wide as the doubles it selects
    VORN_MEMBERS_INDEPENDENT
    for (std::size_t t = 0; t < len; ++t) norm2[t] = dot[t] = -0.0;

    // Estimator: ‖ΔH‖² and φ̂·ΔH, then the step length and the reset test.
    for (std::size_t k = 0; k < m; ++k) {
        const auto r = increment_rows(k);
        const double* __restrict a = r.newer;
        const double* __restrict b = r.older;
        const double* __restrict ph = phi + k * n;
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) {
            const double dh = a[t] - b[t];
            norm2[t] = vorn_add_product(norm2[t], dh, dh);
            dot[t] = vorn_add_product(dot[t], ph[t], dh);
            if constexpr (Logged) log->delta_h[(begin + t) * m + k] = dh;
        }
    }
    {
        const auto r = increment_rows(s);
        const double* __restrict a = r.newer;
        const double* __restrict b = r.older;
        const double* __restrict ps = phi + s * n;
        const double* __restrict rs = reset_value + s * n;
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) {
            const double delta_y = y[t] - yh[t];
            step[t] = vorn_ppd_step(delta_y, dot[t], eta[t], mu[t], norm2[t]);
            const double c_s = vorn_ppd_candidate(a[t] - b[t], step[t], ps[t]);
            // All three conditions end in the same reset, so they are tested together.
            reset[t] = vorn_ppd_increments_vanish(eps[t], norm2[t]) |
                       vorn_ppd_candidate_vanishes(eps[t], c_s) | vorn_ppd_sign_changes(c_s, rs[t]);
            if constexpr (Logged) log->delta_y[begin + t] = delta_y;
        }
    }
    for (std::size_t k = 0; k < m; ++k) {
        const auto r = increment_rows(k);
        const double* __restrict a = r.newer;
        const double* __restrict b = r.older;
        double* __restrict ph = phi + k * n;
        const double* __restrict rk = reset_value + k * n;
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) {
            const double kept = vorn_ppd_candidate(a[t] - b[t], step[t], ph[t]), back = rk[t];
            ph[t] = select(reset[t], back, kept);
            if constexpr (Logged) log->phi[(begin + t) * m + k] = ph[t];
        }
    }

    // Control law: the weighted increment sums, then the law and the limits.
    if constexpr (Full) {
        const double* const rv = v.rho_vector + begin;
        const unsigned char* __restrict has = v.has_rho_vector + begin;
        // sum[t] += w_k·(newer[t] − older[t]), w_k = φ̂_k weighted by rho_vector_k where present.
        auto add_weighted = [&](double* __restrict sum, std::size_t k, const double* __restrict newer,
                                const double* __restrict older) {
            const double* __restrict pk = phi + k * n;
            const double* __restrict rk = rv + k * n;
            VORN_MEMBERS_INDEPENDENT
            for (std::size_t t = 0; t < len; ++t) {
                const double p = pk[t], r = rk[t];
                const double w = select(has[t], vorn_ffdl_weight(p, r), p);
                sum[t] = vorn_add_product(sum[t], w, newer[t] - older[t]);
            }
        };
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) c[t] = l_y >= 1 ? -0.0 : +0.0;
        for (std::size_t k = 0; k < l_y; ++k) add_weighted(c, k, k == 0 ? y : yh + (k - 1) * n, yh + k * n);
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) d[t] = l_u >= 2 ? -0.0 : +0.0;
        for (std::size_t j = 0; j + 1 < l_u; ++j) add_weighted(d, l_y + 1 + j, uh + j * n, uh + (j + 1) * n);
        const double* __restrict ps = phi + s * n;
        const double* __restrict rs = rv + s * n;
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) {
            const double g = select(has[t], rs[t], rho[t]);
            const double raw = vorn_ffdl_law(y[t], yd[t], c[t], d[t], g, ps[t], lambda[t], uh[t]);
            u[t] = vorn_clamp(raw, lo[t], hi[t]);
        }
    } else {
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) d[t] = l_u >= 2 ? -0.0 : +0.0;
        for (std::size_t j = 0; j + 1 < l_u; ++j) {
            const double* __restrict pj = phi + (j + 1) * n;
            const double* __restrict newer = uh + j * n;
            const double* __restrict older = uh + (j + 1) * n;
            VORN_MEMBERS_INDEPENDENT
            for (std::size_t t = 0; t < len; ++t) d[t] = vorn_add_product(d[t], pj[t], newer[t] - older[t]);
        }
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) {
            const double raw = vorn_pfdl_law(y[t], yd[t], d[t], rho[t], lambda[t], phi[t], uh[t]);
            u[t] = vorn_clamp(raw, lo[t], hi[t]);
        }
    }

    // Histories, newest first.
    for (std::size_t j = l_u; j >= 1; --j) {
        double* __restrict dst = uh + j * n;
        const double* __restrict src = uh + (j - 1) * n;
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) dst[t] = src[t];
    }
    for (std::size_t k = Full ? l_y : 0; k >= 1; --k) {
        double* __restrict dst = yh + k * n;
        const double* __restrict src = yh + (k - 1) * n;
        VORN_MEMBERS_INDEPENDENT
        for (std::size_t t = 0; t < len; ++t) dst[t] = src[t];
    }
    VORN_MEMBERS_INDEPENDENT
    for (std::size_t t = 0; t < len; ++t) {
        uh[t] = u[t];
        yh[t] = y[t];
        if constexpr (Logged) log->e[begin + t] = yd[t] - y[t];
    }
}

// The same step for pseudo-orders known at compile time, in one pass: each member's vectors
// are loaded once, every sum over components unrolls, and the loop over members vectorises
// whole. Same operations in the same order as the general step above.
template <bool Full, std::size_t LY, std::size_t LU>
VORN_FLEET_KERNEL void vector_fixed(const VectorView& v, std::size_t begin, std::size_t end,
                                    const double* __restrict y, const double* __restrict yd, double* __restrict u) {
    constexpr std::size_t M = Full ? LY + LU : LU, S = Full ? LY : 0, YR = Full ? LY + 1 : 1;
    const std::size_t n = v.n, len = end - begin;
    y += begin;
    u += begin;
    const double *__restrict eta = v.eta + begin, *__restrict mu = v.mu + begin, *__restrict rho = v.rho + begin,
                             *__restrict lambda = v.lambda + begin, *__restrict eps = v.eps + begin,
                             *__restrict lo = v.u_min + begin, *__restrict hi = v.u_max + begin;
    double* const phi = v.phi_hat + begin;
    const double* const reset_value = v.phi_reset + begin;
    const double* const rv = Full ? v.rho_vector + begin : nullptr;
    const unsigned char* const has = Full ? v.has_rho_vector + begin : nullptr;
    double* const uh = v.u_hist + begin;
    double* const yh = v.y_hist + begin;
    VORN_MEMBERS_INDEPENDENT
    for (std::size_t t = 0; t < len; ++t) {
        double uv[LU + 1], yv[YR], p[M], back[M], dh[M];
        for (std::size_t j = 0; j <= LU; ++j) uv[j] = uh[j * n + t];
        for (std::size_t k = 0; k < YR; ++k) yv[k] = yh[k * n + t];
        for (std::size_t k = 0; k < M; ++k) {
            p[k] = phi[k * n + t];
            back[k] = reset_value[k * n + t];
        }
        // ΔH(k−1): output increments first (full form), then input increments.
        for (std::size_t k = 0; k < M; ++k) {
            dh[k] = (Full && k < LY) ? yv[k] - yv[k + 1] : uv[k - S] - uv[k - S + 1];
        }

        // Estimator.
        double norm2 = -0.0, dot = -0.0;
        for (std::size_t k = 0; k < M; ++k) norm2 = vorn_add_product(norm2, dh[k], dh[k]);
        for (std::size_t k = 0; k < M; ++k) dot = vorn_add_product(dot, p[k], dh[k]);
        const double step = vorn_ppd_step(y[t] - yv[0], dot, eta[t], mu[t], norm2);
        const double c_s = vorn_ppd_candidate(dh[S], step, p[S]);
        const bool reset = vorn_ppd_increments_vanish(eps[t], norm2) |
                           vorn_ppd_candidate_vanishes(eps[t], c_s) | vorn_ppd_sign_changes(c_s, back[S]);
        for (std::size_t k = 0; k < M; ++k) {
            const double kept = vorn_ppd_candidate(dh[k], step, p[k]);
            p[k] = select(reset, back[k], kept);
            phi[k * n + t] = p[k];
        }

        // Control law and limits.
        double raw;
        if constexpr (Full) {
            const bool weighted = has[t];
            double w[M];
            for (std::size_t k = 0; k < M; ++k) {
                const double r = rv[k * n + t];
                w[k] = select(weighted, vorn_ffdl_weight(p[k], r), p[k]);
            }
            const double g = select(weighted, rv[S * n + t], rho[t]);
            double c = LY >= 1 ? -0.0 : +0.0;
            for (std::size_t k = 0; k < LY; ++k) c = vorn_add_product(c, w[k], (k == 0 ? y[t] : yv[k - 1]) - yv[k]);
            double d = LU >= 2 ? -0.0 : +0.0;
            for (std::size_t j = 0; j + 1 < LU; ++j) d = vorn_add_product(d, w[LY + 1 + j], uv[j] - uv[j + 1]);
            raw = vorn_ffdl_law(y[t], yd[t], c, d, g, p[S], lambda[t], uv[0]);
        } else {
            double d = LU >= 2 ? -0.0 : +0.0;
            for (std::size_t j = 0; j + 1 < LU; ++j) d = vorn_add_product(d, p[j + 1], uv[j] - uv[j + 1]);
            raw = vorn_pfdl_law(y[t], yd[t], d, rho[t], lambda[t], p[0], uv[0]);
        }
        const double next = vorn_clamp(raw, lo[t], hi[t]);
        u[t] = next;

        // Histories, newest first.
        for (std::size_t j = LU; j >= 1; --j) uh[j * n + t] = uv[j - 1];
        uh[t] = next;
        for (std::size_t k = YR - 1; k >= 1; --k) yh[k * n + t] = yv[k - 1];
        yh[t] = y[t];
    }
}

}  // namespace vorn::fleet_kernels::body
