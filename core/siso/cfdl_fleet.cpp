// cfdl_fleet.cpp — the compact-form step over every member, in the order of operations of
// the single controller (step_formulas.hpp).
#include "core/siso/cfdl_fleet.hpp"

#include <utility>

#include "core/siso/fleet_block.hpp"
#include "core/siso/step_formulas.hpp"

namespace vorn {

Size CfdlFleet::storage_bytes(std::size_t n) {
    // Estimate, reset value and three history values per member.
    return checked_add(FleetParams::storage_bytes(n), doubles_bytes(checked_mul(n, 5)));
}

CfdlFleet::CfdlFleet(FleetParams params)
    : params_(std::move(params)),
      phi_hat_(params_.initial_phi),
      phi_reset_(params_.initial_phi),
      y_prev_(params_.size(), 0.0),
      u_prev_(params_.u0),
      u_prev2_(params_.u0) {}

template <bool Logged>
void CfdlFleet::update_block(std::size_t begin, std::size_t end, const double* y, const double* yd, double* u,
                             const CfdlFleetLog* log) {
    const FleetParams& p = params_;
    for (std::size_t i = begin; i < end; ++i) {
        const double dy = y[i] - y_prev_[i];
        const double du = u_prev_[i] - u_prev2_[i];
        const double phi_new = formula::cfdl_candidate(dy, du, phi_hat_[i], p.eta[i], p.mu[i]);
        const double phi = formula::cfdl_resets(phi_new, du, p.eps[i]) ? phi_reset_[i] : phi_new;
        phi_hat_[i] = phi;
        const double e = yd[i - begin] - y[i];
        const double v = formula::cfdl_law(p.rho[i], p.lambda[i], phi, e, u_prev_[i]);
        u[i] = formula::clamp(v, p.has_u_min[i], p.u_min[i], p.has_u_max[i], p.u_max[i]);
        u_prev2_[i] = u_prev_[i];
        u_prev_[i] = u[i];
        y_prev_[i] = y[i];
        if constexpr (Logged) {
            log->delta_y[i] = dy;
            log->delta_u[i] = du;
            log->e[i] = e;
            log->phi[i] = phi;
        }
    }
}

void CfdlFleet::update(const double* y, const double* yd, bool yd_shared, double* u, const CfdlFleetLog* log) {
    for_each_block(size(), yd, yd_shared, [&](std::size_t b, std::size_t e, const double* ydb) {
        if (log) {
            update_block<true>(b, e, y, ydb, u, log);
        } else {
            update_block<false>(b, e, y, ydb, u, nullptr);
        }
    });
}

void CfdlFleet::reset() {
    phi_hat_ = phi_reset_;
    y_prev_.assign(size(), 0.0);
    u_prev_ = params_.u0;
    u_prev2_ = params_.u0;
}

CfdlController CfdlFleet::member(std::size_t i) const {
    const SisoParams p = params_.member(i);
    // The fleet's pseudo-orders passed the CFDL form test, so creation succeeds.
    CfdlController c = CfdlController::create(p).value();
    c.restore(p, {y_prev_[i], u_prev_[i], u_prev2_[i], phi_hat_[i]});
    c.set_phi_reset(phi_reset_[i]);
    return c;
}

void CfdlFleet::set_member(std::size_t i, const CfdlController& c) {
    params_.set_member(i, c.params());
    const CfdlHistory h = c.history();
    y_prev_[i] = h.y_prev;
    u_prev_[i] = h.u_prev;
    u_prev2_[i] = h.u_prev2;
    phi_hat_[i] = h.phi_hat;
    phi_reset_[i] = c.phi_reset();
}

}  // namespace vorn
