// controller.cpp — construction, reset, setters and the per-sample update cycle of the
// three MIMO cores.
#include "core/mimo/controller.hpp"

#include <algorithm>
#include <stdexcept>

#include "core/formulas/mimo_step.h"
#include "core/mimo/linalg.hpp"

namespace vorn {

namespace {

struct Counts {
    Size n_y;  // output layers
    Size n_u;  // input layers
};

template <MimoForm F>
Counts layer_counts(const MimoParams& p) {
    if constexpr (F == MimoForm::Compact) return {Size(0), Size(1)};
    if constexpr (F == MimoForm::Partial) return {Size(0), to_size(p.l_u)};
    return {to_size(p.l_y), to_size(p.l_u)};
}

// M = x·I.
void fill_scaled_identity(std::vector<double>& m, std::size_t n, double x) {
    std::fill(m.begin(), m.end(), 0.0);
    for (std::size_t i = 0; i < n; ++i) m[i * n + i] = x;
}

}  // namespace

template <MimoForm F>
Size MimoCore<F>::storage_bytes(const MimoParams& p) {
    const Counts c = layer_counts<F>(p);
    const Size dim = to_size(p.dim);
    const Size dim2 = checked_mul(dim, dim);
    const Size pairs = checked_add(c.n_y, c.n_u);
    const bool lu = F == MimoForm::Compact && dim && *dim >= 4;
    const Size matrices = checked_mul(checked_add(pairs, Size(lu ? 2 : 1)), dim2);  // initial, LU copy
    // Histories and predictions, y_prev, u_prev, scratch, the LU's panel.
    const Size vectors = checked_mul(checked_add(checked_mul(pairs, Size(2)), Size(lu ? 7 + linalg::kLuPanel : 7)), dim);
    return doubles_bytes(checked_add(matrices, vectors));
}

template <MimoForm F>
MimoCore<F>::MimoCore(const MimoParams& p, linalg::Kernels kernels, std::size_t dim, std::size_t n_y,
                      std::size_t n_u)
    : ParamsHolder(p),
      dim_(dim),
      dim2_(dim * dim),
      n_y_(n_y),
      n_u_(n_u),
      kernels_(kernels),
      layers_((n_y + n_u) * dim2_),
      initial_(dim2_),
      hist_((n_y + n_u) * dim),
      y_prev_(dim),
      u_prev_(dim),
      dy_(dim),
      w_(dim),
      acc_(dim),
      pred_((n_y + n_u) * dim),
      du_(dim),
      col_(dim),
      lu_(F == MimoForm::Compact && dim >= 4 ? linalg::lu_scratch_size(dim) : 0) {
    set_initial_phi(p.initial_phi);
    reset();
}

template <MimoForm F>
Expected<MimoCore<F>, MimoParamError> MimoCore<F>::create(const MimoParams& p, linalg::Kernels kernels) {
    if (auto err = validate(p, F)) return *err;
    const Counts c = layer_counts<F>(p);
    const Size dim = to_size(p.dim);
    if (!storage_bytes(p) || !c.n_y || !c.n_u || !dim) throw std::length_error("MIMO core too large");
    return MimoCore(p, kernels, *dim, *c.n_y, *c.n_u);
}

template <MimoForm F>
void MimoCore<F>::reset() {
    // Layers of dim 0 hold nothing, however many there are.
    if (dim2_ != 0) {
        for (std::size_t m = 0; m < layer_count(); ++m) std::copy(initial_.begin(), initial_.end(), layer_ptr(m));
    }
    std::fill(hist_.begin(), hist_.end(), 0.0);
    std::fill(y_prev_.begin(), y_prev_.end(), 0.0);
    std::fill(u_prev_.begin(), u_prev_.end(), params_.u0);
    lead_n2_ = initial_n2_;
}

template <MimoForm F>
bool MimoCore<F>::set_phi_hat(std::span<const double> flat) {
    if (flat.size() != layers_.size()) return false;
    std::copy(flat.begin(), flat.end(), layers_.begin());
    lead_n2_ = kernels_.squared_frobenius(layer(n_y_).data(), dim_, col_.data());
    return true;
}

template <MimoForm F>
bool MimoCore<F>::restore(std::span<const double> layers, std::span<const double> histories,
                          std::span<const double> y_prev, std::span<const double> u_prev, double lead_norm2) {
    if (layers.size() != layers_.size() || histories.size() != hist_.size() || y_prev.size() != dim_ ||
        u_prev.size() != dim_) {
        return false;
    }
    std::copy(layers.begin(), layers.end(), layers_.begin());
    std::copy(histories.begin(), histories.end(), hist_.begin());
    std::copy(y_prev.begin(), y_prev.end(), y_prev_.begin());
    std::copy(u_prev.begin(), u_prev.end(), u_prev_.begin());
    lead_n2_ = lead_norm2;
    return true;
}

template <MimoForm F>
void MimoCore<F>::set_initial_phi(double x) {
    params_.initial_phi = x;
    fill_scaled_identity(initial_, dim_, x);
    initial_n2_ = kernels_.squared_frobenius(initial_.data(), dim_, col_.data());
    if constexpr (F == MimoForm::Compact) det0_ = linalg::determinant(initial_, dim_, lu_, kernels_);
}

template <MimoForm F>
void MimoCore<F>::restore_layer(std::size_t m) {
    std::copy(initial_.begin(), initial_.end(), layer_ptr(m));
    if (m == n_y_) lead_n2_ = initial_n2_;
}

// Bound rule on layer m, whose squared Frobenius norm is n2: a layer that leaves
// [m_lower², m_upper²] returns to initial_phi_matrix; a NaN norm fails both tests and keeps
// the layer.
template <MimoForm F>
void MimoCore<F>::bound(std::size_t m, double n2) {
    if (m == n_y_) lead_n2_ = n2;
    if (vorn_mimo_out_of_bounds(n2, params_.m_upper, params_.m_lower)) restore_layer(m);
}

// The feed-forward sum s = Σ over every layer but the lead one of the layer times the increment that
// becomes its regressor after this call's shift (this call's Δy for the newest output layer).
// The same pass forms each of these layers' term A_m·δ_m of the prediction p that the
// estimate uses: no layer changes between here and the estimate's corrections.
template <MimoForm F>
void MimoCore<F>::feed_forward(std::span<const double> dy) {
    std::fill(acc_.begin(), acc_.end(), 0.0);
    for (std::size_t m = 0; m < layer_count(); ++m) {
        if (m == n_y_) continue;
        const double* xs = m == 0 ? dy.data() : hist(m - 1).data();
        kernels_.feed_and_predict(layer(m).data(), dim_, xs, hist(m).data(), acc_.data(), prediction(m));
    }
}

// The control law: Δu = g·(Lᵀ·w) with g = ρ / (λ + ‖L‖²_F), and the lead pair's term of p.
template <MimoForm F>
void MimoCore<F>::control_law() {
    const double g = vorn_mimo_gain(params_.rho, params_.lambda, lead_n2_);
    kernels_.control_and_predict(layer(n_y_).data(), dim_, w_.data(), hist(n_y_).data(), du_.data(),
                                 prediction(n_y_));
    linalg::scale(du_, g);
}

// The estimate's correction: normalised projection of the residual onto every regressor pair, in pair order.
template <MimoForm F>
void MimoCore<F>::estimate(std::span<const double> dy) {
    const std::size_t pairs = layer_count();
    std::fill(acc_.begin(), acc_.end(), 0.0);
    for (std::size_t m = 0; m < pairs; ++m) linalg::add(acc_, {prediction(m), dim_}, acc_);
    linalg::sub(dy, acc_, acc_);  // r = Δy − p
    double d = params_.mu;
    for (std::size_t m = 0; m < pairs; ++m) d = d + linalg::squared_norm(hist(m));
    if (!vorn_mimo_corrects(d, params_.eps)) return;
    const double f = params_.eta / d;
    for (std::size_t m = 0; m < pairs; ++m) {
        const double n2 = kernels_.correct(layer_ptr(m), dim_, acc_.data(), hist(m).data(), f, col_.data());
        if constexpr (F == MimoForm::Compact) {
            lead_n2_ = n2;  // the compact form's bound rule reads it
        } else {
            bound(m, n2);
        }
    }
}

// The compact form's reset rules: its small-increment, bound and determinant-sign rules.
template <MimoForm F>
void MimoCore<F>::compact_reset_rules() {
    if (vorn_mimo_increment_vanishes(linalg::squared_norm(du_), params_.eps)) {
        restore_layer(0);
        return;
    }
    bound(0, lead_n2_);
    if (vorn_mimo_sign_rule_applies(det0_, params_.eps) &&
        vorn_mimo_sign_changes(linalg::determinant(layer(0), dim_, lu_, kernels_), det0_)) {
        restore_layer(0);  // also when either is NaN
    }
}

// The histories' shift: every history moves one place up, last entry first; the newest goes to entry 0.
template <MimoForm F>
void MimoCore<F>::shift_histories(std::span<const double> dy) {
    const auto shift = [this](std::size_t first, std::size_t count, std::span<const double> newest) {
        if (count == 0) return;
        double* block = hist_.data() + first * dim_;
        std::copy_backward(block, block + (count - 1) * dim_, block + count * dim_);
        std::copy(newest.begin(), newest.end(), block);
    };
    shift(0, n_y_, dy);
    shift(n_y_, n_u_, du_);
}

template <MimoForm F>
const std::vector<double>& MimoCore<F>::update(std::span<const double> y, std::span<const double> yd) {
    if (y.size() != dim_ || yd.size() != dim_) return u_prev_;
    if (dim_ == 0) return u_prev_;  // no entries to compute, whatever the number of layers
    linalg::sub(y, y_prev_, dy_);                                 // 1. Δy = y − y_prev
    linalg::sub(yd, y, w_);                                       // 2. e = yd − y
    feed_forward(dy_);                                            // 3. s
    linalg::sub(w_, acc_, w_);                                    // 4. w = e − s
    control_law();                                                // 5., 6. Δu
    linalg::add(u_prev_, du_, u_prev_);                           // 7. u = u_prev + Δu
    estimate(dy_);                                                // 8. the estimate
    if constexpr (F == MimoForm::Compact) compact_reset_rules();  // 9. its reset rules
    shift_histories(dy_);                                         // 10. the histories
    std::copy(y.begin(), y.end(), y_prev_.begin());               // 11. (u_prev already holds u)
    return u_prev_;                                               // 12. u
}

template class MimoCore<MimoForm::Compact>;
template class MimoCore<MimoForm::Partial>;
template class MimoCore<MimoForm::Full>;

}  // namespace vorn
