// sequence.hpp — len(fleet) and fleet[i] for every fleet class: the member count, and a new
// single controller in member i's state, each under the fleet's shared access. A fleet
// class C names its Core and makes the controller of a member with
// C::member_object(module, core, i).
#pragma once

#include <cstddef>

#include "python/binding/index.hpp"
#include "python/fleet/bridge.hpp"

namespace vorn::py::fleet {

template <class C>
struct Sequence {
    using Core = typename C::Core;

    static Py_ssize_t length(PyObject* self) { return sequence_length<Core>(self); }

    static PyObject* item(PyObject* self, PyObject* key) {
        return sequence_item<Core>(self, key, "fleet index out of range", [self](Core& core, std::size_t i) -> PyObject* {
            PyObject* module = fleet_module(Py_TYPE(self));
            return module ? C::member_object(module, core, i) : nullptr;
        });
    }

    // The class's mapping slots.
    static inline PyType_Slot slots[] = {
        {Py_mp_length, reinterpret_cast<void*>(length)},
        {Py_mp_subscript, reinterpret_cast<void*>(item)},
        {0, nullptr},
    };
};

}  // namespace vorn::py::fleet
