// controller.hpp — the three MIMO cores (compact, partial and full form). They share one
// implementation: a list of dim×dim layers, each paired with one increment history entry.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/checked_size.hpp"
#include "core/expected.hpp"
#include "core/mimo/kernels.hpp"
#include "core/mimo/params.hpp"
#include "core/params_holder.hpp"

namespace vorn {

// Layers and histories are stored flat. Layer m occupies layers()[m·dim² …] row-major and
// pairs with history entry m at hist[m·dim …]. The first l_y pairs are the output layers
// with the output increments (full form only), the rest the input layers with the input
// increments, newest first. This is also the order of layers() and of
// set_phi_hat. The compact form has one input layer and one history entry (Δu(k−1)).
template <MimoForm F>
class MimoCore : public ParamsHolder<MimoParams> {
public:
    // Bytes taken by the state and scratch of a core for `params`; empty on overflow.
    static Size storage_bytes(const MimoParams& params);

    // Validates and builds, computing with `kernels` (the processor's widest variant unless
    // given). Sizes are the caller's to check with storage_bytes first: a count that
    // overflows throws std::length_error, and a failed allocation std::bad_alloc.
    static Expected<MimoCore, MimoParamError> create(
        const MimoParams& params, linalg::Kernels kernels = linalg::kernels_of(linalg::widest_variant()));

    // One sample; y and yd have dim() entries. Returns the new input u(k), which stays
    // valid until the next call. With other lengths nothing changes and u(k−1) is returned.
    const std::vector<double>& update(std::span<const double> y, std::span<const double> yd);
    // The same update for a dimension known at compile time, D = dim() (update_cycle.hpp):
    // the same operations in the same order, every loop over entries unrolled and the
    // vectors of one step in registers. y and yd have D entries; u(k) goes to u.
    template <std::size_t D>
    void update_fixed(const double* y, const double* yd, double* u);
    void reset();

    std::size_t dim() const { return dim_; }
    std::size_t layer_count() const { return n_y_ + n_u_; }
    const std::vector<double>& layers() const { return layers_; }
    std::span<const double> layer(std::size_t m) const { return {layers_.data() + m * dim2_, dim2_}; }

    // Replaces every layer from a flat array in the order of layers(); false, with nothing
    // changed, when its size is not layer_count()·dim².
    bool set_phi_hat(std::span<const double> flat);
    void set_initial_phi(double x);

    void set_m_upper(double v) { params_.m_upper = v; }
    void set_m_lower(double v) { params_.m_lower = v; }
    // The setter of a real field of the record, by its member (set_initial_phi for initial_phi).
    void set_field(double MimoParams::*field, double v) {
        if (field == &MimoParams::initial_phi) {
            set_initial_phi(v);
        } else {
            params_.*field = v;
        }
    }

    // What a step carries to the next beyond the layers: the increment histories (in the
    // order of layers()), y(k−1), u(k−1) and the lead layer's squared norm as the last step
    // left it. A saved core comes back bit for bit through restore.
    const std::vector<double>& histories() const { return hist_; }
    const std::vector<double>& y_prev() const { return y_prev_; }
    const std::vector<double>& u_prev() const { return u_prev_; }
    double lead_norm2() const { return lead_n2_; }
    // Replaces layers, histories, y(k−1), u(k−1) and the lead norm; false, with nothing
    // changed, when a size differs from this core's.
    bool restore(std::span<const double> layers, std::span<const double> histories, std::span<const double> y_prev,
                 std::span<const double> u_prev, double lead_norm2);

private:
    MimoCore(const MimoParams& p, linalg::Kernels kernels, std::size_t dim, std::size_t n_y, std::size_t n_u);

    double* layer_ptr(std::size_t m) { return layers_.data() + m * dim2_; }
    std::span<const double> hist(std::size_t m) const { return {hist_.data() + m * dim_, dim_}; }
    double* prediction(std::size_t m) { return pred_.data() + m * dim_; }

    // The update cycle (update_cycle.hpp), over the matrix passes and scratch `P` gives it.
    template <class P>
    void cycle(P& p, const double* y, const double* yd);
    template <class P>
    void feed_forward(P& p);
    template <class P>
    void control_law(P& p);
    template <class P>
    void estimate(P& p);
    template <class P>
    void compact_reset_rules(P& p);
    void bound(std::size_t m, double n2);
    void restore_layer(std::size_t m);
    void shift_histories(const double* dy, const double* du);

    std::size_t dim_;
    std::size_t dim2_;
    std::size_t n_y_;  // output layers (full form)
    std::size_t n_u_;  // input layers

    double det0_ = 1.0;        // det(initial_phi_matrix), compact form only
    double initial_n2_ = 0.0;  // ‖initial_phi_matrix‖²_F
    double lead_n2_ = 0.0;     // ‖lead layer‖²_F, kept as the layer changes

    linalg::Kernels kernels_;

    std::vector<double> layers_;
    std::vector<double> initial_;
    std::vector<double> hist_;
    std::vector<double> y_prev_;
    std::vector<double> u_prev_;

    // Scratch of one update, kept so that an update allocates nothing.
    std::vector<double> dy_;   // Δy
    std::vector<double> w_;    // e, then w = e − s
    std::vector<double> acc_;  // s, then the prediction p, then the residual r
    std::vector<double> pred_;  // A_m·δ_m of each pair m, added up in pair order for p
    std::vector<double> du_;   // Δu
    std::vector<double> col_;  // column sums of the Frobenius norm
    std::vector<double> lu_;   // LU copy and panel of the determinant (compact form, dim ≥ 4)
};

using MimoCfdlCore = MimoCore<MimoForm::Compact>;
using MimoPfdlCore = MimoCore<MimoForm::Partial>;
using MimoFfdlCore = MimoCore<MimoForm::Full>;

extern template class MimoCore<MimoForm::Compact>;
extern template class MimoCore<MimoForm::Partial>;
extern template class MimoCore<MimoForm::Full>;

}  // namespace vorn
