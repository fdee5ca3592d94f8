// cfdl_fleet.cpp — construction, stepping (through the block steps of fleet_kernels), reset
// and member copies of the compact-form fleet.
#include "core/siso/cfdl_fleet.hpp"

#include <string_view>

#include "core/forms/siso_forms.hpp"

#include <utility>

#include "core/siso/fleet_block.hpp"

namespace vorn {

Size CfdlFleet::storage_bytes(std::size_t n) {
    // Estimate, reset value and three history values per member.
    return checked_add(FleetParams::storage_bytes(n), doubles_bytes(checked_mul(n, 5)));
}

CfdlFleet::CfdlFleet(FleetParams params) : FleetBase(std::move(params), 1) { reset(); }

void CfdlFleet::update(const double* y, const double* yd, bool yd_shared, double* u, const CfdlFleetLog* log) {
    const fleet_kernels::CfdlView view{
        step_params(), phi_hat_.data(), phi_reset_.data(), y_prev_.data(), u_prev_.data(), u_prev2_.data()};
    for_each_block(size(), yd, yd_shared, [&](std::size_t b, std::size_t e, const double* ydb) {
        kernels_->cfdl(view, b, e, y, ydb, u, log);
    });
}

void CfdlFleet::reset() {
    phi_hat_ = phi_reset_;
    y_prev_.assign(size(), 0.0);
    u_prev_ = params_.column<&SisoParams::u0>();
    u_prev2_ = u_prev_;
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

std::vector<double>& CfdlFleet::state_array(const forms::StateArray& row) {
    if (row.role == forms::StateRole::Estimate) return phi_hat_;
    if (row.role == forms::StateRole::Reset) return phi_reset_;
    const std::string_view key = row.key;
    if (key == forms::siso_rows::kUPrev.key) return u_prev_;
    return key == forms::siso_rows::kUPrev2.key ? u_prev2_ : y_prev_;
}

}  // namespace vorn
