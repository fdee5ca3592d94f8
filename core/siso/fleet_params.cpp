// fleet_params.cpp — member records in and out of the parameter columns of a fleet, each
// field handled by its kind in the SISO table.
#include "core/siso/fleet_params.hpp"

#include <algorithm>

namespace vorn {

namespace {

// One call operator per field kind.
template <class... Fs>
struct ByKind : Fs... {
    using Fs::operator()...;
};

}  // namespace

FleetParams::FleetParams(std::size_t n, const SisoParams& p) : shared(p), n_(n) {
    for (std::size_t r = 0; r < kSisoRows; ++r) {
        if (kSisoFields[r].kind != FieldKind::Count) values[r].resize(n);
        if (kSisoFields[r].kind == FieldKind::Limit) present[r].resize(n);
    }
    store(p, 0, n);
}

void FleetParams::store(const SisoParams& p, std::size_t begin, std::size_t end) {
    for (std::size_t r = 0; r < kSisoRows; ++r) {
        auto fill = [&](auto& column, auto value) { std::fill(column.begin() + begin, column.begin() + end, value); };
        with_field(kSisoFields[r], p, ByKind{
            [&](double v) { fill(values[r], v); },
            [&](const std::optional<double>& v) {
                fill(values[r], v.value_or(formula::kNoLimit));
                fill(present[r], static_cast<unsigned char>(v.has_value()));
            },
            [](std::uint64_t) {},
        });
    }
}

SisoParams FleetParams::member(std::size_t i) const {
    SisoParams p = shared;
    for (std::size_t r = 0; r < kSisoRows; ++r) {
        with_field(kSisoFields[r], p, ByKind{
            [&](double& v) { v = values[r][i]; },
            [&](std::optional<double>& v) { v = present[r][i] ? std::optional(values[r][i]) : std::nullopt; },
            [](std::uint64_t&) {},
        });
    }
    return p;
}

void FleetParams::normalise_limits() {
    for (std::size_t r = 0; r < kSisoRows; ++r) {
        for (std::size_t i = 0; i < present[r].size(); ++i) {
            if (!present[r][i]) values[r][i] = formula::kNoLimit;
        }
    }
}

Size FleetParams::storage_bytes(std::size_t n) {
    // A double per member for each Real and Limit field, and a flag for each Limit field.
    std::size_t doubles = 0, flags = 0;
    for (const SisoField& f : kSisoFields) {
        doubles += f.kind != FieldKind::Count;
        flags += f.kind == FieldKind::Limit;
    }
    return checked_add(doubles_bytes(checked_mul(n, doubles)), checked_mul(n, flags));
}

std::string FleetMismatch::message() const {
    return what + " has " + std::to_string(actual) + " entries, the fleet keeps " + std::to_string(expected);
}

}  // namespace vorn
