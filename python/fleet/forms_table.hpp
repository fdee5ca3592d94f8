// forms_table.hpp — _forms(): the descriptors of the six controller forms as Python data,
// for the package's registry of forms.
#pragma once

#include "python/binding/py.hpp"

namespace vorn::py::fleet {

// _forms(): a tuple of one dict per form, SISO first, each in DlForm's order.
PyObject* forms_table(PyObject* module, PyObject* unused);

}  // namespace vorn::py::fleet
