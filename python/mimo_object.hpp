// mimo_object.hpp — what an instance of a MIMO controller class holds: its core and the
// conversion buffers of update, reused between calls. The fleet module reaches the same
// layout (python/fleet/bridge.hpp).
#pragma once

#include <vector>

#include "core/mimo/controller.hpp"

namespace vorn::py {

template <MimoForm F>
struct MimoObject {
    MimoCore<F> core;
    std::vector<double> y{};
    std::vector<double> yd{};
};

}  // namespace vorn::py
