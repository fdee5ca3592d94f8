// cfdl_class.cpp — CFDLController, the Python class around one CfdlController: what
// differs from the other SISO classes, as its form description.
#include "python/registry.hpp"
#include "python/siso_family.hpp"

namespace vorn::py {

namespace {

struct CfdlForm {
    using Descriptor = forms::Cfdl;
    using Core = Descriptor::Core;
    static constexpr const char* name = Descriptor::names.single_class;
    static Descriptor::State saved(const Core& c) { return c.history(); }

    using Family = SisoFamily<CfdlForm>;
    static constexpr auto get_phi = &Core::phi_vector;
    static constexpr const char* get_phi_doc =
        "get_phi($self)\n--\n\n返回当前 PPD 估计（长度为 1 的向量，与 PFDL/FFDL 保持一致）。";
    static PyMethodDef steps() {
        return Family::step_def<&Core::update>("update", "执行一步控制更新。\n\n# 返回值\n元组 `(u, delta_y, delta_u, e, phi)`。");
    }
    static PyMethodDef set_phi_hat() {
        return setter<Core, &Core::set_phi_vector>(name, "set_phi_hat", "phi",
                                                   "手动设置 PPD 估计。\n\n# 参数\n- `phi`：长度为 1 的向量，与 `get_phi()` "
                                                   "返回格式一致。\n\n# 错误\n当 `phi` 长度不为 1 时抛出 `ValueError`。");
    }
    static std::array<PyMethodDef, 0> extra_setters() { return {}; }
};

}  // namespace

int add_cfdl_class(PyObject* module) { return add_class(module, CfdlForm::name, SisoClass<CfdlForm>::class_def); }

}  // namespace vorn::py
