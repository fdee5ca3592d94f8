// params_holder.hpp — the one parameter record of a SISO controller with its setters. The
// controller's estimator and control law read this record at every step, so a setter
// changes one value and the next step sees it.
#pragma once

#include <optional>

#include "core/params_holder.hpp"
#include "core/siso/params.hpp"

namespace vorn {

class SisoParamsHolder : public ParamsHolder<SisoParams> {
public:
    void set_u_min(std::optional<double> v) { params_.u_min = v; }
    void set_u_max(std::optional<double> v) { params_.u_max = v; }

protected:
    using ParamsHolder::ParamsHolder;
};

}  // namespace vorn
