// fleet_params.hpp — the parameters of a fleet of SISO controllers, one column per field of
// the SISO table (structure of arrays): member i's record is entry i of every column. The
// fields of kind Count (the pseudo-orders) are shared by the whole fleet.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/checked_size.hpp"
#include "core/siso/param_table.hpp"

namespace vorn {

inline constexpr std::size_t kSisoRows = kSisoFields.size();

// Whether `f` describes `member`.
constexpr bool is_field(const SisoField& f, double SisoParams::*m) { return f.real == m; }
constexpr bool is_field(const SisoField& f, std::uint64_t SisoParams::*m) { return f.count == m; }
constexpr bool is_field(const SisoField& f, std::optional<double> SisoParams::*m) { return f.limit == m; }

// The row of `member` in kSisoFields, found while compiling (for a member the table lacks,
// at() runs past its end, which does not compile).
consteval std::size_t siso_row(auto SisoParams::*member) {
    std::size_t r = 0;
    while (!is_field(kSisoFields.at(r), member)) ++r;
    return r;
}

struct FleetParams {
    // values[r]: field r of every member, for the fields of kind Real and Limit; a Count
    // field's column stays empty (its value is in `shared`).
    std::array<std::vector<double>, kSisoRows> values;
    // present[r], for a Limit field: 1 where the member's limit is in force. Elsewhere its
    // value is NaN (formula::kNoLimit), which the clamp passes over as it would skip an
    // absent limit.
    std::array<std::vector<unsigned char>, kSisoRows> present;
    // The fleet-wide fields, those of kind Count; its other fields are not read.
    SisoParams shared;

    // n members, each holding `p` (its pseudo-orders become the fleet's).
    FleetParams(std::size_t n, const SisoParams& p);

    std::size_t size() const { return n_; }
    // The column of one field: column<&SisoParams::eta>().
    template <auto Field>
    std::vector<double>& column() {
        return values[siso_row(Field)];
    }
    SisoParams member(std::size_t i) const;
    // Member i takes p's per-member fields; the pseudo-orders stay the fleet's.
    void set_member(std::size_t i, const SisoParams& p) { store(p, i, i + 1); }

    // Restores the NaN of every absent limit (after the columns were written directly).
    void normalise_limits();

    // Bytes the columns of n members take; empty when the count overflows.
    static Size storage_bytes(std::size_t n);

private:
    // Members [begin, end) take p's per-member fields.
    void store(const SisoParams& p, std::size_t begin, std::size_t end);

    std::size_t n_;
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
