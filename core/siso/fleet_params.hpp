// fleet_params.hpp — the parameters of a fleet of SISO controllers, one array per field
// (structure of arrays): member i's record is field[i] of every array. The pseudo-orders
// are shared by the whole fleet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/checked_size.hpp"
#include "core/siso/params.hpp"

namespace vorn {

struct FleetParams {
    std::vector<double> eta, mu, rho, lambda, eps, initial_phi, u0;
    // A limit is in force where its flag is set; the value is read only there.
    std::vector<double> u_min, u_max;
    std::vector<unsigned char> has_u_min, has_u_max;
    std::uint64_t l_y = 0;
    std::uint64_t l_u = 1;

    // n members, each holding `p` (its pseudo-orders become the fleet's).
    FleetParams(std::size_t n, const SisoParams& p);

    std::size_t size() const { return eta.size(); }
    SisoParams member(std::size_t i) const;
    // Member i takes p's real-valued fields; the pseudo-orders stay the fleet's.
    void set_member(std::size_t i, const SisoParams& p);

    // Bytes the arrays of n members take; empty when the count overflows.
    static Size storage_bytes(std::size_t n);
};

// A member whose vector or pseudo-orders do not fit the fleet's layout.
struct FleetMismatch {
    std::string what;       // e.g. "phi_hat" or "l_u"
    std::size_t expected;
    std::size_t actual;

    // e.g. "phi_hat has 3 entries, the fleet keeps 2"
    std::string message() const;
};

inline Status<FleetMismatch> require_exact(const char* what, std::size_t expected, std::size_t actual) {
    if (expected != actual) return FleetMismatch{what, expected, actual};
    return std::nullopt;
}

}  // namespace vorn
