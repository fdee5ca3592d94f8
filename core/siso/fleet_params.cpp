// fleet_params.cpp — member records in and out of the parameter arrays of a fleet.
#include "core/siso/fleet_params.hpp"

namespace vorn {

FleetParams::FleetParams(std::size_t n, const SisoParams& p)
    : eta(n, p.eta),
      mu(n, p.mu),
      rho(n, p.rho),
      lambda(n, p.lambda),
      eps(n, p.eps),
      initial_phi(n, p.initial_phi),
      u0(n, p.u0),
      u_min(n, p.u_min.value_or(0.0)),
      u_max(n, p.u_max.value_or(0.0)),
      has_u_min(n, p.u_min.has_value()),
      has_u_max(n, p.u_max.has_value()),
      l_y(p.l_y),
      l_u(p.l_u) {}

SisoParams FleetParams::member(std::size_t i) const {
    SisoParams p;
    p.eta = eta[i];
    p.mu = mu[i];
    p.rho = rho[i];
    p.lambda = lambda[i];
    p.eps = eps[i];
    p.l_y = l_y;
    p.l_u = l_u;
    p.initial_phi = initial_phi[i];
    p.u0 = u0[i];
    if (has_u_min[i]) p.u_min = u_min[i];
    if (has_u_max[i]) p.u_max = u_max[i];
    return p;
}

void FleetParams::set_member(std::size_t i, const SisoParams& p) {
    eta[i] = p.eta;
    mu[i] = p.mu;
    rho[i] = p.rho;
    lambda[i] = p.lambda;
    eps[i] = p.eps;
    initial_phi[i] = p.initial_phi;
    u0[i] = p.u0;
    u_min[i] = p.u_min.value_or(0.0);
    u_max[i] = p.u_max.value_or(0.0);
    has_u_min[i] = p.u_min.has_value();
    has_u_max[i] = p.u_max.has_value();
}

Size FleetParams::storage_bytes(std::size_t n) {
    // Nine doubles and two flags per member.
    return checked_add(doubles_bytes(checked_mul(n, 9)), checked_mul(n, 2));
}

std::string FleetMismatch::message() const {
    return what + " has " + std::to_string(actual) + " entries, the fleet keeps " + std::to_string(expected);
}

}  // namespace vorn
