// module.cpp — entry point of vorn._vorn_core.
//
// The module's Python face:
//   CFDLController, PFDLController, FFDLController            SISO controllers
//   MimoCfdlController, MimoPfdlController, MimoFfdlController  MIMO controllers
//   pid_to_pfdl, zn_response_to_pfdl, critical_proportional_to_pfdl,
//   apply_pfdl_initial_guess, ffdl_zn_tuning, apply_ffdl_zn_tuning,
//   ffdl_critical_tuning, apply_ffdl_critical_tuning           tuning helpers
//   load_config_from_yaml                                      configuration loader
#include "python/binding/module_def.hpp"
#include "python/binding/types.hpp"
#include "python/registry.hpp"

namespace vorn::py {
namespace {

int exec_module(PyObject* module) {
    if (add_cfdl_class(module) < 0) return -1;
    if (add_vector_classes(module) < 0) return -1;
    if (add_mimo_classes(module) < 0) return -1;
    return add_functions(module);
}

}  // namespace
}  // namespace vorn::py

PyMODINIT_FUNC PyInit__vorn_core() {
    using vorn::py::Interpreters;
    // The state is the module's class table: the six classes, made for each interpreter.
    return vorn::py::init_module<Interpreters::Isolated, vorn::py::ClassTable, vorn::py::exec_module>(
        "_vorn_core", "Python 模块入口。\n\n导出三个控制器类与整定函数到 `_vorn_core` 模块。");
}
