// vector_fleet.cpp — the partial-form and full-form steps over every member, in the order
// of operations of the single controllers (estimator, control law, clamp, shift; the
// formulas in step_formulas.hpp). Each loop runs over the members of one block for one
// component, so every member's sums still take their terms in index order.
#include "core/siso/vector_fleet.hpp"

#include <algorithm>
#include <utility>

#include "core/siso/fleet_block.hpp"
#include "core/siso/step_formulas.hpp"

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
    : form_(form),
      n_(params.size()),
      l_y_(static_cast<std::size_t>(params.l_y)),
      l_u_(static_cast<std::size_t>(params.l_u)),
      m_(components_of(form, l_y_, l_u_)),
      s_(form == Form::Full ? l_y_ : 0),
      params_(std::move(params)),
      phi_reset_(m_ * n_),
      rho_vector_(form == Form::Full ? m_ * n_ : 0, 0.0),
      has_rho_vector_(form == Form::Full ? n_ : 0, 0),
      u_hist_((l_u_ + 1) * n_),
      y_hist_((form == Form::Full ? l_y_ + 1 : 1) * n_, 0.0) {
    for (std::size_t k = 0; k < m_; ++k) {
        std::copy(params_.initial_phi.begin(), params_.initial_phi.end(), phi_reset_.begin() + k * n_);
    }
    reset();
}

template <bool Full, bool Logged>
void VectorFleet::update_block(std::size_t begin, std::size_t end, const double* y, const double* yd, double* u,
                               const VectorFleetLog* log) {
    const std::size_t n = n_, m = m_;
    const FleetParams& p = params_;
    double* const phi = phi_hat_.data();
    const double* const reset_value = phi_reset_.data();
    double* const uh = u_hist_.data();
    double* const yh = y_hist_.data();
    // Rows (newer, older) whose difference is component k of ΔH(k−1).
    auto increment_rows = [&](std::size_t k) -> std::pair<const double*, const double*> {
        if (Full && k < l_y_) return {yh + k * n, yh + (k + 1) * n};
        const std::size_t j = Full ? k - l_y_ : k;
        return {uh + j * n, uh + (j + 1) * n};
    };

    // Scratch, indexed by member − begin.
    double norm2[kFleetBlock], dot[kFleetBlock], step[kFleetBlock], c[kFleetBlock], d[kFleetBlock];
    unsigned char reset[kFleetBlock];
    const std::size_t len = end - begin;
    for (std::size_t t = 0; t < len; ++t) norm2[t] = dot[t] = -0.0;

    // Estimator: ‖ΔH‖² and φ̂·ΔH, then the step length and the reset test.
    for (std::size_t k = 0; k < m; ++k) {
        const auto [a, b] = increment_rows(k);
        const double* const ph = phi + k * n;
        for (std::size_t i = begin; i < end; ++i) {
            const double dh = a[i] - b[i];
            norm2[i - begin] = formula::add_product(norm2[i - begin], dh, dh);
            dot[i - begin] = formula::add_product(dot[i - begin], ph[i], dh);
            if constexpr (Logged) log->delta_h[i * m + k] = dh;
        }
    }
    {
        const auto [a, b] = increment_rows(s_);
        const double* const ps = phi + s_ * n;
        const double* const rs = reset_value + s_ * n;
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t t = i - begin;
            const double delta_y = y[i] - yh[i];
            step[t] = formula::ppd_step(delta_y, dot[t], p.eta[i], p.mu[i], norm2[t]);
            const double c_s = formula::ppd_candidate(a[i] - b[i], step[t], ps[i]);
            // All three conditions end in the same reset, so they are tested together.
            reset[t] = formula::ppd_increments_vanish(p.eps[i], norm2[t]) |
                       formula::ppd_candidate_vanishes(p.eps[i], c_s) | formula::ppd_sign_changes(c_s, rs[i]);
            if constexpr (Logged) log->delta_y[i] = delta_y;
        }
    }
    for (std::size_t k = 0; k < m; ++k) {
        const auto [a, b] = increment_rows(k);
        double* const ph = phi + k * n;
        const double* const r = reset_value + k * n;
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t t = i - begin;
            ph[i] = reset[t] ? r[i] : formula::ppd_candidate(a[i] - b[i], step[t], ph[i]);
            if constexpr (Logged) log->phi[i * m + k] = ph[i];
        }
    }

    // Control law: the weighted increment sums, then the law and the limits.
    if constexpr (Full) {
        const double* const rv = rho_vector_.data();
        const unsigned char* const has = has_rho_vector_.data();
        auto weight = [&](std::size_t k, std::size_t i) {
            return has[i] ? formula::ffdl_weight(phi[k * n + i], rv[k * n + i]) : phi[k * n + i];
        };
        for (std::size_t t = 0; t < len; ++t) c[t] = l_y_ >= 1 ? -0.0 : +0.0;
        for (std::size_t k = 0; k < l_y_; ++k) {
            for (std::size_t i = begin; i < end; ++i) {
                const double dy = k == 0 ? y[i] - yh[i] : yh[(k - 1) * n + i] - yh[k * n + i];
                c[i - begin] = formula::add_product(c[i - begin], weight(k, i), dy);
            }
        }
        for (std::size_t t = 0; t < len; ++t) d[t] = l_u_ >= 2 ? -0.0 : +0.0;
        for (std::size_t j = 0; j + 1 < l_u_; ++j) {
            for (std::size_t i = begin; i < end; ++i) {
                const double du = uh[j * n + i] - uh[(j + 1) * n + i];
                d[i - begin] = formula::add_product(d[i - begin], weight(l_y_ + 1 + j, i), du);
            }
        }
        const double* const ps = phi + s_ * n;
        const double* const rs = rv + s_ * n;
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t t = i - begin;
            const double g = has[i] ? rs[i] : p.rho[i];
            const double v = formula::ffdl_law(y[i], yd[t], c[t], d[t], g, ps[i], p.lambda[i], uh[i]);
            u[i] = formula::clamp(v, p.has_u_min[i], p.u_min[i], p.has_u_max[i], p.u_max[i]);
        }
    } else {
        for (std::size_t t = 0; t < len; ++t) d[t] = l_u_ >= 2 ? -0.0 : +0.0;
        for (std::size_t j = 0; j + 1 < l_u_; ++j) {
            const double* const pj = phi + (j + 1) * n;
            for (std::size_t i = begin; i < end; ++i) {
                const double du = uh[j * n + i] - uh[(j + 1) * n + i];
                d[i - begin] = formula::add_product(d[i - begin], pj[i], du);
            }
        }
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t t = i - begin;
            const double v = formula::pfdl_law(y[i], yd[t], d[t], p.rho[i], p.lambda[i], phi[i], uh[i]);
            u[i] = formula::clamp(v, p.has_u_min[i], p.u_min[i], p.has_u_max[i], p.u_max[i]);
        }
    }

    // Histories, newest first.
    for (std::size_t j = l_u_; j >= 1; --j) {
        for (std::size_t i = begin; i < end; ++i) uh[j * n + i] = uh[(j - 1) * n + i];
    }
    const std::size_t y_rows = Full ? l_y_ : 0;
    for (std::size_t k = y_rows; k >= 1; --k) {
        for (std::size_t i = begin; i < end; ++i) yh[k * n + i] = yh[(k - 1) * n + i];
    }
    for (std::size_t i = begin; i < end; ++i) {
        uh[i] = u[i];
        yh[i] = y[i];
        if constexpr (Logged) log->e[i] = yd[i - begin] - y[i];
    }
}

void VectorFleet::update(const double* y, const double* yd, bool yd_shared, double* u, const VectorFleetLog* log) {
    const bool full = form_ == Form::Full;
    for_each_block(n_, yd, yd_shared, [&](std::size_t b, std::size_t e, const double* ydb) {
        if (full) {
            log ? update_block<true, true>(b, e, y, ydb, u, log) : update_block<true, false>(b, e, y, ydb, u, log);
        } else {
            log ? update_block<false, true>(b, e, y, ydb, u, log) : update_block<false, false>(b, e, y, ydb, u, log);
        }
    });
}

void VectorFleet::reset() {
    phi_hat_ = phi_reset_;
    for (std::size_t j = 0; j <= l_u_; ++j) std::copy(params_.u0.begin(), params_.u0.end(), u_hist_.begin() + j * n_);
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

Status<FleetMismatch> VectorFleet::check_member(const SisoParams& p, const std::vector<double>& phi,
                                                const std::vector<double>& reset,
                                                const std::vector<double>& u_hist) const {
    if (auto e = require_exact("l_y", l_y_, static_cast<std::size_t>(p.l_y))) return e;
    if (auto e = require_exact("l_u", l_u_, static_cast<std::size_t>(p.l_u))) return e;
    if (auto e = require_exact("phi_hat", m_, phi.size())) return e;
    if (auto e = require_exact("initial_phi", m_, reset.size())) return e;
    return require_exact("u_hist", l_u_ + 1, u_hist.size());
}

Status<FleetMismatch> VectorFleet::set_member(std::size_t i, const PfdlController& c) {
    if (auto e = check_member(c.params(), c.phi_hat(), c.initial_phi_vector(), c.u_hist())) return e;
    params_.set_member(i, c.params());
    set_column(phi_hat_, c.phi_hat(), i);
    set_column(phi_reset_, c.initial_phi_vector(), i);
    set_column(u_hist_, c.u_hist(), i);
    y_hist_[i] = c.y_prev();
    return std::nullopt;
}

Status<FleetMismatch> VectorFleet::set_member(std::size_t i, const FfdlController& c) {
    if (auto e = check_member(c.params(), c.phi_hat(), c.initial_phi_vector(), c.u_hist())) return e;
    if (auto e = require_exact("y_hist", l_y_ + 1, c.y_hist().size())) return e;
    if (c.rho_vector()) {
        if (auto e = require_exact("rho_vector", m_, c.rho_vector()->size())) return e;
    }
    params_.set_member(i, c.params());
    set_column(phi_hat_, c.phi_hat(), i);
    set_column(phi_reset_, c.initial_phi_vector(), i);
    set_column(u_hist_, c.u_hist(), i);
    set_column(y_hist_, c.y_hist(), i);
    has_rho_vector_[i] = c.rho_vector().has_value();
    if (c.rho_vector()) set_column(rho_vector_, *c.rho_vector(), i);
    return std::nullopt;
}

}  // namespace vorn
