// vector_classes.cpp — PFDLController and FFDLController, the Python classes around one
// PfdlController or FfdlController: what differs from the other SISO classes, as their form
// descriptions.
#include "core/siso/ffdl_controller.hpp"
#include "core/siso/pfdl_controller.hpp"
#include "python/registry.hpp"
#include "python/siso_class.hpp"
#include "python/vector_classes.hpp"

namespace vorn::py {

namespace {

// What the two forms share: the state record, the step entries and the estimate's;
// `Derived` adds the name, doc, state keys and extra setters.
template <class Derived, class C, DlForm F>
struct VectorForm {
    using Core = C;
    using State = decltype(std::declval<const Core&>().export_state());
    static constexpr DlForm form = F;
    static State saved(const Core& c) { return c.export_state(); }

    static constexpr auto get_phi = &Core::phi_hat;
    static constexpr const char* get_phi_doc = "get_phi($self)\n--\n\n返回当前 PPD 向量估计。";
    static std::array<PyMethodDef, 2> steps() {
        using Class = SisoClass<Derived>;
        return {Class::template step_def<&Core::update>("update", "执行一步控制更新，返回新的控制输入。"),
                Class::template step_def<&Core::update_logged>(
                    "update_logged", "执行一步控制更新并返回结构化记录。\n\n# 返回值\n元组 `(u, delta_y, delta_h, e, phi)`。")};
    }
    static PyMethodDef set_phi_hat() {
        return setter<Core, &Core::set_phi_hat>(Derived::name, "set_phi_hat", "phi", "手动设置 PPD 向量估计。");
    }
};

struct PfdlForm : VectorForm<PfdlForm, PfdlController, DlForm::Partial> {
    static constexpr const char* name = "PFDLController";
    static constexpr const char* doc =
        "对应 Python 侧的 `PFDLController`。\n\n包装 [`PfdlController`]，要求 `l_y == 0` 且 `l_u >= 1`。";
    static constexpr std::tuple state_keys{StateKey{"y_prev", &State::y_prev}, StateKey{"u_hist", &State::u_hist},
                                           StateKey{"phi_hat", &State::phi_hat}};
    static std::array<PyMethodDef, 0> extra_setters() { return {}; }
};

struct FfdlForm : VectorForm<FfdlForm, FfdlController, DlForm::Full> {
    static constexpr const char* name = "FFDLController";
    static constexpr const char* doc = "对应 Python 侧的 `FFDLController`。\n\n包装 [`FfdlController`]，要求 `l_u >= 1`。";
    static constexpr std::tuple state_keys{StateKey{"y_hist", &State::y_hist}, StateKey{"u_hist", &State::u_hist},
                                           StateKey{"phi_hat", &State::phi_hat},
                                           StateKey{"rho_vector", &State::rho_vector}};
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
