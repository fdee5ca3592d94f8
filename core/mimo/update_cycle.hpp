// update_cycle.hpp — the per-sample update cycle of the MIMO cores, written once over its
// matrix passes: those of the core's kernel table for a dimension known at run time
// (MimoCore::update), or the scalar formulas of core/formulas/mimo_step.h for one known at
// compile time (MimoCore::update_fixed, which the fleets take for small dimensions). Both
// give every entry the same operations in the same order, so both return the same bits.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

#include "core/formulas/mimo_step.h"
#include "core/mimo/controller.hpp"
#include "core/mimo/linalg.hpp"

namespace vorn {

namespace update_cycle {

// The passes and scratch of a dimension known at run time: the kernel table's variant and
// the core's scratch vectors.
struct RuntimePasses {
    std::size_t n;
    const linalg::Kernels& kernels;
    double *dy, *w, *acc, *du, *col, *pred;
    std::span<double> lu;

    void feed_and_predict(const double* a, const double* xs, const double* xp, double* s, double* p) const {
        kernels.feed_and_predict(a, n, xs, xp, s, p);
    }
    void control_and_predict(const double* a, const double* w_, const double* xp, double* t, double* p) const {
        kernels.control_and_predict(a, n, w_, xp, t, p);
    }
    double correct(double* a, const double* r, const double* d, double f) const {
        return kernels.correct(a, n, r, d, f, col);
    }
    double determinant(const double* a) const { return linalg::determinant({a, n * n}, n, lu, kernels); }
};

// Layers whose predictions a fixed-dimension step keeps on the stack; more use the core's
// scratch.
inline constexpr std::size_t kStackLayers = 8;

// The passes and scratch of dimension D: the formulas themselves, unrolled, and the vectors
// of one step on the stack.
template <std::size_t D>
struct FixedPasses {
    static constexpr std::size_t n = D;
    double dy[D], w[D], acc[D], du[D], col[D];
    double stack_pred[kStackLayers * D];
    double* pred;

    FixedPasses(std::size_t layers, double* scratch) : pred(layers <= kStackLayers ? stack_pred : scratch) {}

    void feed_and_predict(const double* a, const double* xs, const double* xp, double* s, double* p) const {
        vorn_mimo_feed_and_predict(a, D, xs, xp, s, p);
    }
    void control_and_predict(const double* a, const double* w_, const double* xp, double* t, double* p) const {
        vorn_mimo_control_and_predict(a, D, w_, xp, t, p);
    }
    double correct(double* a, const double* r, const double* d, double f) { return vorn_mimo_correct(a, D, r, d, f, col); }
    static double determinant(const double* a) {
        if constexpr (D <= 3) {
            return vorn_mimo_small_determinant(a, D);
        } else {
            double lu[D * D];
            std::copy(a, a + D * D, lu);
            return vorn_mimo_lu_determinant(lu, D);
        }
    }
};

}  // namespace update_cycle

// The largest dimension that update_fixed is instantiated for.
inline constexpr std::size_t kMimoFixedDimMax = 4;

// The feed-forward sum s = Σ over every layer but the lead one of the layer times the
// increment that becomes its regressor after this call's shift (this call's Δy for the
// newest output layer). The same pass forms each of these layers' term A_m·δ_m of the
// prediction p that the estimate uses: no layer changes between here and the estimate's
// corrections.
template <MimoForm F>
template <class P>
void MimoCore<F>::feed_forward(P& p) {
    std::fill(p.acc, p.acc + p.n, 0.0);
    for (std::size_t m = 0; m < layer_count(); ++m) {
        if (m == n_y_) continue;
        const double* xs = m == 0 ? p.dy : hist(m - 1).data();
        p.feed_and_predict(layer(m).data(), xs, hist(m).data(), p.acc, p.pred + m * p.n);
    }
}

// The control law: Δu = g·(Lᵀ·w) with g = ρ / (λ + ‖L‖²_F), and the lead pair's term of p.
template <MimoForm F>
template <class P>
void MimoCore<F>::control_law(P& p) {
    const double g = vorn_mimo_gain(params_.rho, params_.lambda, lead_n2_);
    p.control_and_predict(layer(n_y_).data(), p.w, hist(n_y_).data(), p.du, p.pred + n_y_ * p.n);
    for (std::size_t j = 0; j < p.n; ++j) p.du[j] = p.du[j] * g;
}

// The estimate's correction: normalised projection of the residual onto every regressor
// pair, in pair order.
template <MimoForm F>
template <class P>
void MimoCore<F>::estimate(P& p) {
    const std::size_t pairs = layer_count();
    std::fill(p.acc, p.acc + p.n, 0.0);
    for (std::size_t m = 0; m < pairs; ++m) {
        for (std::size_t i = 0; i < p.n; ++i) p.acc[i] = p.acc[i] + p.pred[m * p.n + i];
    }
    for (std::size_t i = 0; i < p.n; ++i) p.acc[i] = p.dy[i] - p.acc[i];  // r = Δy − p
    double d = params_.mu;
    for (std::size_t m = 0; m < pairs; ++m) d = d + vorn_mimo_squared_norm(hist(m).data(), p.n);
    if (!vorn_mimo_corrects(d, params_.eps)) return;
    const double f = params_.eta / d;
    for (std::size_t m = 0; m < pairs; ++m) {
        const double n2 = p.correct(layer_ptr(m), p.acc, hist(m).data(), f);
        if constexpr (F == MimoForm::Compact) {
            lead_n2_ = n2;  // the compact form's bound rule reads it
        } else {
            bound(m, n2);
        }
    }
}

// The compact form's reset rules: its small-increment, bound and determinant-sign rules.
template <MimoForm F>
template <class P>
void MimoCore<F>::compact_reset_rules(P& p) {
    if (vorn_mimo_increment_vanishes(vorn_mimo_squared_norm(p.du, p.n), params_.eps)) {
        restore_layer(0);
        return;
    }
    bound(0, lead_n2_);
    if (vorn_mimo_sign_rule_applies(det0_, params_.eps) &&
        vorn_mimo_sign_changes(p.determinant(layer(0).data()), det0_)) {
        restore_layer(0);  // also when either is NaN
    }
}

// One sample, y and yd of dim() entries; u(k) is left in u_prev.
template <MimoForm F>
template <class P>
void MimoCore<F>::cycle(P& p, const double* y, const double* yd) {
    for (std::size_t i = 0; i < p.n; ++i) {
        p.dy[i] = y[i] - y_prev_[i];  // 1. Δy = y − y_prev
        p.w[i] = yd[i] - y[i];        // 2. e = yd − y
    }
    feed_forward(p);                                                         // 3. s
    for (std::size_t i = 0; i < p.n; ++i) p.w[i] = p.w[i] - p.acc[i];       // 4. w = e − s
    control_law(p);                                                          // 5., 6. Δu
    for (std::size_t i = 0; i < p.n; ++i) u_prev_[i] = u_prev_[i] + p.du[i];  // 7. u = u_prev + Δu
    estimate(p);                                                             // 8. the estimate
    if constexpr (F == MimoForm::Compact) compact_reset_rules(p);            // 9. its reset rules
    shift_histories(p.dy, p.du);                                             // 10. the histories
    std::copy(y, y + p.n, y_prev_.begin());                                  // 11. (u_prev already holds u)
}

template <MimoForm F>
template <std::size_t D>
__attribute__((flatten)) void MimoCore<F>::update_fixed(const double* y, const double* yd, double* u) {
    static_assert(D >= 1 && D <= kMimoFixedDimMax, "update_fixed is instantiated for dims 1 to kMimoFixedDimMax");
    update_cycle::FixedPasses<D> passes(layer_count(), pred_.data());
    cycle(passes, y, yd);
    std::copy(u_prev_.begin(), u_prev_.end(), u);  // 12. u
}

}  // namespace vorn
