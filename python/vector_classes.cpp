// vector_classes.cpp — PFDLController and FFDLController, the Python classes around one
// PfdlController or FfdlController: what differs from the other SISO classes, as their form
// descriptions.
#include "python/registry.hpp"
#include "python/siso_family.hpp"
#include "python/vector_classes.hpp"

namespace vorn::py {

namespace {

// What the two forms share: the saved record, the step entries and the estimate's;
// `Derived` adds its extra setters.
template <class Derived, class D>
struct VectorForm {
    using Descriptor = D;
    using Core = typename Descriptor::Core;
    static constexpr const char* name = Descriptor::names.single_class;
    static typename Descriptor::State saved(const Core& c) { return c.export_state(); }

    static constexpr auto get_phi = &Core::phi_hat;
    static constexpr const char* get_phi_doc = "get_phi($self)\n--\n\n返回当前 PPD 向量估计。";
    static std::array<PyMethodDef, 2> steps() {
        using Family = SisoFamily<Derived>;
        return {Family::template step_def<&Core::update>("update", "执行一步控制更新，返回新的控制输入。"),
                Family::template step_def<&Core::update_logged>(
                    "update_logged", "执行一步控制更新并返回结构化记录。\n\n# 返回值\n元组 `(u, delta_y, delta_h, e, phi)`。")};
    }
    static PyMethodDef set_phi_hat() {
        return setter<Core, &Core::set_phi_hat>(Derived::name, "set_phi_hat", "phi", "手动设置 PPD 向量估计。");
    }
};

struct PfdlForm : VectorForm<PfdlForm, forms::Pfdl> {
    static std::array<PyMethodDef, 0> extra_setters() { return {}; }
};

struct FfdlForm : VectorForm<FfdlForm, forms::Ffdl> {
    static PyMethodDef extra_setters() {
        return setter<Core, &Core::set_rho_vector>(name, "set_rho_vector", "rho", "设置 FFDL 控制律的逐分量步长加权向量。");
    }
};

}  // namespace

PyTypeObject* pfdl_type(PyObject* module) { return type_object(module, SisoClass<PfdlForm>::class_def); }
PyTypeObject* ffdl_type(PyObject* module) { return type_object(module, SisoClass<FfdlForm>::class_def); }

int add_vector_classes(PyObject* module) {
    if (add_class(module, PfdlForm::name, SisoClass<PfdlForm>::class_def) < 0) return -1;
    return add_class(module, FfdlForm::name, SisoClass<FfdlForm>::class_def);
}

}  // namespace vorn::py
