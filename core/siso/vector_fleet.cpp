// vector_fleet.cpp — construction, stepping (through the block steps of fleet_kernels),
// reset and member copies of the partial-form and full-form fleets.
#include "core/siso/vector_fleet.hpp"

#include <algorithm>
#include <string_view>
#include <type_traits>
#include <utility>

#include "core/forms/siso_forms.hpp"
#include "core/siso/fleet_block.hpp"

namespace vorn {

namespace {

std::size_t components_of(VectorFleet::Form form, std::size_t l_y, std::size_t l_u) {
    return form == VectorFleet::Form::Full ? l_y + l_u : l_u;
}

}  // namespace

Size VectorFleet::storage_bytes(Form form, std::size_t n, std::uint64_t l_y, std::uint64_t l_u) {
    const Size ly = to_size(l_y), lu = to_size(l_u);
    const bool full = form == Form::Full;
    const Size m = full ? checked_add(ly, lu) : lu;
    // Estimate and reset value (and the step weights in the full form), both histories.
    const Size vectors = checked_mul(m, full ? 3 : 2);
    const Size hist = checked_add(checked_add(lu, 1), full ? checked_add(ly, 1) : Size(1));
    const Size per_member = checked_add(vectors, hist);
    const Size bytes = checked_add(doubles_bytes(checked_mul(per_member, n)), full ? Size(n) : Size(0));
    return checked_add(bytes, FleetParams::storage_bytes(n));
}

VectorFleet::VectorFleet(Form form, FleetParams params)
    : FleetBase(std::move(params), components_of(form, params.shared.l_y, params.shared.l_u)),
      form_(form),
      n_(params_.size()),
      l_y_(static_cast<std::size_t>(params_.shared.l_y)),
      l_u_(static_cast<std::size_t>(params_.shared.l_u)),
      m_(components_of(form, l_y_, l_u_)),
      s_(form == Form::Full ? l_y_ : 0),
      rho_vector_(form == Form::Full ? m_ * n_ : 0, 0.0),
      has_rho_vector_(form == Form::Full ? n_ : 0, 0),
      u_hist_((l_u_ + 1) * n_),
      y_hist_((form == Form::Full ? l_y_ + 1 : 1) * n_, 0.0) {
    reset();
}

void VectorFleet::update(const double* y, const double* yd, bool yd_shared, double* u, const VectorFleetLog* log) {
    const fleet_kernels::VectorView view{step_params(),      n_, l_y_, l_u_, m_, s_, phi_hat_.data(), phi_reset_.data(),
                                         rho_vector_.data(), has_rho_vector_.data(), u_hist_.data(), y_hist_.data()};
    const auto step = form_ == Form::Full ? kernels_->ffdl : kernels_->pfdl;
    for_each_block(n_, yd, yd_shared, [&](std::size_t b, std::size_t e, const double* ydb) {
        step(view, b, e, y, ydb, u, log);
    });
}

void VectorFleet::reset() {
    phi_hat_ = phi_reset_;
    const std::vector<double>& u0 = params_.column<&SisoParams::u0>();
    for (std::size_t j = 0; j <= l_u_; ++j) std::copy(u0.begin(), u0.end(), u_hist_.begin() + j * n_);
    std::fill(y_hist_.begin(), y_hist_.end(), 0.0);
}

std::vector<double> VectorFleet::column(const std::vector<double>& a, std::size_t rows, std::size_t i) const {
    std::vector<double> v(rows);
    for (std::size_t k = 0; k < rows; ++k) v[k] = a[k * n_ + i];
    return v;
}

void VectorFleet::set_column(std::vector<double>& a, const std::vector<double>& v, std::size_t i) {
    for (std::size_t k = 0; k < v.size(); ++k) a[k * n_ + i] = v[k];
}

PfdlController VectorFleet::pfdl_member(std::size_t i) const {
    // The fleet's pseudo-orders passed the form test, and every vector has the lengths the
    // controller requires, so none of these steps fails.
    PfdlController c = PfdlController::create(params_.member(i)).value();
    (void)c.import_state({column(u_hist_, l_u_ + 1, i), column(phi_hat_, m_, i), y_hist_[i]});
    (void)c.set_reset_vector(column(phi_reset_, m_, i));
    return c;
}

FfdlController VectorFleet::ffdl_member(std::size_t i) const {
    FfdlController c = FfdlController::create(params_.member(i)).value();
    std::optional<std::vector<double>> rho;
    if (has_rho_vector_[i]) rho = column(rho_vector_, m_, i);
    (void)c.import_state({column(y_hist_, l_y_ + 1, i), column(u_hist_, l_u_ + 1, i), column(phi_hat_, m_, i),
                          std::move(rho)});
    (void)c.set_reset_vector(column(phi_reset_, m_, i));
    return c;
}

std::vector<double>& VectorFleet::state_array(const forms::StateArray& row) {
    switch (row.role) {
        case forms::StateRole::Estimate: return phi_hat_;
        case forms::StateRole::Reset: return phi_reset_;
        case forms::StateRole::StepFactors: return rho_vector_;
        case forms::StateRole::History: break;
    }
    // The partial form keeps y_prev as the one row of y_hist.
    return std::string_view(row.key) == forms::siso_rows::kUHist.key ? u_hist_ : y_hist_;
}

template <class Controller>
Status<FleetMismatch> VectorFleet::set_member(std::size_t i, const Controller& c) {
    constexpr bool full = std::is_same_v<Controller, FfdlController>;
    if (auto e = require_exact("l_y", l_y_, static_cast<std::size_t>(c.params().l_y))) return e;
    if (auto e = require_exact("l_u", l_u_, static_cast<std::size_t>(c.params().l_u))) return e;
    if (auto e = require_exact("phi_hat", m_, c.phi_hat().size())) return e;
    if (auto e = require_exact("initial_phi", m_, c.initial_phi_vector().size())) return e;
    if (auto e = require_exact("u_hist", l_u_ + 1, c.u_hist().size())) return e;
    if constexpr (full) {
        if (auto e = require_exact("y_hist", l_y_ + 1, c.y_hist().size())) return e;
        if (c.rho_vector()) {
            if (auto e = require_exact("rho_vector", m_, c.rho_vector()->size())) return e;
        }
    }
    params_.set_member(i, c.params());
    set_column(phi_hat_, c.phi_hat(), i);
    set_column(phi_reset_, c.initial_phi_vector(), i);
    set_column(u_hist_, c.u_hist(), i);
    if constexpr (full) {
        set_column(y_hist_, c.y_hist(), i);
        has_rho_vector_[i] = c.rho_vector().has_value();
        if (c.rho_vector()) set_column(rho_vector_, *c.rho_vector(), i);
    } else {
        y_hist_[i] = c.y_prev();
    }
    return std::nullopt;
}
template Status<FleetMismatch> VectorFleet::set_member(std::size_t, const PfdlController&);
template Status<FleetMismatch> VectorFleet::set_member(std::size_t, const FfdlController&);

}  // namespace vorn
