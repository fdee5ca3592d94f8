// control_law.hpp — the partial-form and full-form control laws: the new input from the
// estimate, the histories and the tracking error, clamped to the optional limits.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "core/siso/params.hpp"

namespace vorn {

// Histories hold the newest value at index 0: u_hist[j] = u(k−1−j), y_hist[i] = y(k−1−i).
// Each law reads rho, lambda and the limits from the owning controller's record `p`.
// The laws check no values and no lengths; their callers keep these limits:
//   partial: phi has at least 1 entry, u_hist at least max(l_u, 1);
//   full: phi and a present rho_vector at least l_y + l_u, y_hist at least l_y, u_hist at
//   least max(l_u, 1).

class PfdlControlLaw {
public:
    // `l_u` is params.l_u as a machine word (the caller has checked that it fits).
    explicit PfdlControlLaw(std::size_t l_u) : l_u_(l_u) {}

    double compute(const SisoParams& p, double y, double yd, const std::vector<double>& phi,
                   const std::vector<double>& u_hist) const;

private:
    std::size_t l_u_;
};

class FfdlControlLaw {
public:
    // `l_y` and `l_u` are the pseudo-orders as machine words.
    FfdlControlLaw(std::size_t l_y, std::size_t l_u) : l_y_(l_y), l_u_(l_u) {}

    double compute(const SisoParams& p, double y, double yd, const std::vector<double>& phi, const std::vector<double>& y_hist,
                   const std::vector<double>& u_hist) const;

    // Per-component step weights, present or absent; no length check.
    void set_rho_vector(std::optional<std::vector<double>> rho) { rho_vector_ = std::move(rho); }
    const std::optional<std::vector<double>>& rho_vector() const { return rho_vector_; }

private:
    template <class Weight>
    double compute_with(const SisoParams& p, double y, double yd, const std::vector<double>& phi, const std::vector<double>& y_hist,
                        const std::vector<double>& u_hist, double g, Weight w) const;

    std::optional<std::vector<double>> rho_vector_;
    std::size_t l_y_;
    std::size_t l_u_;
};

}  // namespace vorn
