// module_def.hpp — the definition of an extension module with multi-phase initialisation:
// its name, docstring, module-level functions and slots (the exec step), every field named.
#pragma once

#include "python/binding/py.hpp"

namespace vorn::py {

inline PyModuleDef module_definition(const char* name, const char* doc, PyModuleDef_Slot* slots,
                                     PyMethodDef* functions = nullptr) {
    return {
        .m_base = PyModuleDef_HEAD_INIT,
        .m_name = name,
        .m_doc = doc,
        .m_size = 0,
        .m_methods = functions,
        .m_slots = slots,
        .m_traverse = nullptr,
        .m_clear = nullptr,
        .m_free = nullptr,
    };
}

}  // namespace vorn::py
