// fleet_base.hpp — what the compact-form and vector fleets share: their members'
// parameters, the estimates and their reset values (component-major: component k of member
// i at [k·n + i]), and the block steps they run.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "core/siso/fleet_kernels.hpp"
#include "core/siso/fleet_params.hpp"

namespace vorn {

class FleetBase {
public:
    std::size_t size() const { return params_.size(); }
    // The block steps this fleet runs (the processor's widest by default).
    void use_kernels(const fleet_kernels::Table& kernels) { kernels_ = &kernels; }

    FleetParams& params() { return params_; }
    const FleetParams& params() const { return params_; }
    std::vector<double>& phi_hat() { return phi_hat_; }
    const std::vector<double>& phi_hat() const { return phi_hat_; }
    std::vector<double>& phi_reset() { return phi_reset_; }

protected:
    // Every component of every estimate starts at its member's initial_phi.
    FleetBase(FleetParams&& params, std::size_t components) : params_(std::move(params)) {
        const std::vector<double>& initial = params_.column<&SisoParams::initial_phi>();
        phi_reset_.reserve(components * initial.size());
        for (std::size_t k = 0; k < components; ++k) phi_reset_.insert(phi_reset_.end(), initial.begin(), initial.end());
        phi_hat_ = phi_reset_;
    }

    // The parameter columns the block steps read.
    fleet_kernels::StepParams step_params() {
        FleetParams& p = params_;
        return {p.column<&SisoParams::eta>().data(),    p.column<&SisoParams::mu>().data(),
                p.column<&SisoParams::rho>().data(),    p.column<&SisoParams::lambda>().data(),
                p.column<&SisoParams::eps>().data(),    p.column<&SisoParams::u_min>().data(),
                p.column<&SisoParams::u_max>().data()};
    }

    FleetParams params_;
    std::vector<double> phi_hat_, phi_reset_;
    const fleet_kernels::Table* kernels_ = &fleet_kernels::selected();
};

}  // namespace vorn
