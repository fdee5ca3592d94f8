// controller.cpp — construction, reset, setters and the update of the three MIMO cores; the
// steps of the update cycle are in update_cycle.hpp.
#include "core/mimo/controller.hpp"

#include <algorithm>
#include <stdexcept>

#include "core/formulas/mimo_step.h"
#include "core/mimo/linalg.hpp"
#include "core/mimo/update_cycle.hpp"

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

// The histories' shift: every history moves one place up, last entry first; the newest
// (dy for the output increments, du for the input increments) goes to entry 0.
template <MimoForm F>
void MimoCore<F>::shift_histories(const double* dy, const double* du) {
    const auto shift = [this](std::size_t first, std::size_t count, const double* newest) {
        if (count == 0) return;
        double* block = hist_.data() + first * dim_;
        std::copy_backward(block, block + (count - 1) * dim_, block + count * dim_);
        std::copy(newest, newest + dim_, block);
    };
    shift(0, n_y_, dy);
    shift(n_y_, n_u_, du);
}

template <MimoForm F>
const std::vector<double>& MimoCore<F>::update(std::span<const double> y, std::span<const double> yd) {
    if (y.size() != dim_ || yd.size() != dim_) return u_prev_;
    if (dim_ == 0) return u_prev_;  // no entries to compute, whatever the number of layers
    update_cycle::RuntimePasses passes{dim_, kernels_, dy_.data(), w_.data(), acc_.data(), du_.data(), col_.data(),
                                       pred_.data(), lu_};
    cycle(passes, y.data(), yd.data());
    return u_prev_;
}

template class MimoCore<MimoForm::Compact>;
template class MimoCore<MimoForm::Partial>;
template class MimoCore<MimoForm::Full>;

}  // namespace vorn
