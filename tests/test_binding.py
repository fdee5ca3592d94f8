"""The module's shared conventions, exercised through CFDLController: registration, type
properties, documentation, argument binding, conversions, access state, representations."""

import gc
import weakref

import pytest

from vorn import _vorn_core as m

ALL = ["CFDLController", "PFDLController", "FFDLController", "MimoCfdlController", "MimoPfdlController",
       "MimoFfdlController", "pid_to_pfdl", "zn_response_to_pfdl", "critical_proportional_to_pfdl",
       "apply_pfdl_initial_guess", "ffdl_zn_tuning", "apply_ffdl_zn_tuning", "ffdl_critical_tuning",
       "apply_ffdl_critical_tuning", "load_config_from_yaml"]


def test_module_registration_order():
    # Members present so far appear in the fixed order, each set as an attribute.
    assert m.__all__ == [n for n in ALL if n in m.__all__]
    assert m.__all__[0] == "CFDLController"
    assert all(getattr(m, n) is not None for n in m.__all__)
    assert m.__doc__ == "Python 模块入口。\n\n导出三个控制器类与整定函数到 `_vorn_core` 模块。"


def test_type_properties():
    t = m.CFDLController
    assert (t.__module__, t.__name__, t.__qualname__) == ("vorn._vorn_core", "CFDLController", "CFDLController")
    assert t.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (t,), {})
    c = t()
    with pytest.raises(AttributeError):
        c.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(c)


def test_class_documentation():
    t = m.CFDLController
    assert t.__text_signature__ == ("(eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_y=0, l_u=1, "
                                    "initial_phi=0.5, u0=0.0, u_min=None, u_max=None)")
    assert t.__doc__ == "对应 Python 侧的 `CFDLController`。\n\n包装 [`CfdlController`]，要求 `l_y == 0` 且 `l_u == 1`。"


def test_method_table_and_docs():
    t = m.CFDLController
    names = ["update", "reset", "get_phi", "set_phi_hat", "set_eta", "set_mu", "set_rho", "set_lambda", "set_eps",
             "set_u0", "set_initial_phi", "set_u_min", "set_u_max", "__getnewargs__", "__getstate__",
             "__setstate__"]
    own = [k for k in vars(t) if callable(vars(t)[k]) and not k.startswith("__") or k in names]
    assert [k for k in own if k in names] == names
    assert t.update.__text_signature__ == "($self, y, yd)"
    assert t.update.__doc__ == "执行一步控制更新。\n\n# 返回值\n元组 `(u, delta_y, delta_u, e, phi)`。"
    assert t.set_lambda.__text_signature__ == "($self, lambda_)"
    assert t.set_eta.__doc__ is None
    assert t.reset.__doc__ == "重置控制器状态。"
    assert t.__setstate__.__text_signature__ == "($self, state)"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: m.CFDLController(*range(12)),
         "CFDLController.__new__() takes from 0 to 11 positional arguments but 12 were given"),
        (lambda: m.CFDLController(bogus=1), "CFDLController.__new__() got an unexpected keyword argument 'bogus'"),
        (lambda: m.CFDLController(1.0, eta=1.0), "CFDLController.__new__() got multiple values for argument 'eta'"),
        (lambda: m.CFDLController().update(1.0), "CFDLController.update() missing 1 required positional argument: 'yd'"),
        (lambda: m.CFDLController().update(),
         "CFDLController.update() missing 2 required positional arguments: 'y' and 'yd'"),
        (lambda: m.CFDLController().update(yd=1.0),
         "CFDLController.update() missing 1 required positional argument: 'y'"),
        (lambda: m.CFDLController().update(1.0, 2.0, 3.0),
         "CFDLController.update() takes 2 positional arguments but 3 were given"),
        (lambda: m.CFDLController().update(1.0, 2.0, yd=3.0),
         "CFDLController.update() got multiple values for argument 'yd'"),
        (lambda: m.CFDLController().set_eta(1.0, 2.0),
         "CFDLController.set_eta() takes 1 positional arguments but 2 were given"),
        (lambda: m.CFDLController().set_eta(), "CFDLController.set_eta() missing 1 required positional argument: 'eta'"),
        (lambda: m.CFDLController().set_lambda(lambda__=1.0),
         "CFDLController.set_lambda() got an unexpected keyword argument 'lambda__'"),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keywords_bind_by_name():
    c = m.CFDLController(lambda_=0.02, u_max=10.0, eta=1.0)
    assert c.update(yd=1.0, y=0.0) == m.CFDLController().update(0.0, 1.0)
    c.set_lambda(lambda_=0.5)
    assert c.__getstate__()["lambda"] == 0.5
    # Keyword names that are not interned strings still match.
    key = "".join(["y", "d"])
    assert m.CFDLController().update(0.0, **{key: 1.0})[0] == 0.18518518518518517


def test_keyword_layouts_repeat_and_alternate():
    # The same call sites run many times, in different keyword orders, with one object
    # given for two parameters, interleaved with calls of the wrong shape.
    ref = m.CFDLController()
    c = m.CFDLController()
    x = 0.5
    for i in range(3):
        assert c.update(y=x, yd=x) == ref.update(x, x)
        assert c.update(yd=1.0, y=0.25) == ref.update(0.25, 1.0)
        assert c.update(0.1, yd=2.0) == ref.update(0.1, 2.0)
        with pytest.raises(TypeError, match="multiple values for argument 'yd'"):
            c.update(0.1, 0.2, yd=2.0)
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'y'"):
            c.update(yd=2.0)
    assert c.__getstate__() == ref.__getstate__()


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class Float:
    def __float__(self):
        return 0.25


@pytest.mark.parametrize(
    "kwargs, error, name",
    [
        ({"l_y": -1}, OverflowError, "l_y"),
        ({"l_u": 2**64}, OverflowError, "l_u"),
        ({"l_u": 1.0}, TypeError, "l_u"),
        ({"eta": "1"}, TypeError, "eta"),
        ({"lambda_": None}, TypeError, "lambda_"),
        ({"u_min": "x"}, TypeError, "u_min"),
        ({"mu": 10**400}, OverflowError, "mu"),
    ],
)
def test_conversion_failures_carry_a_note(kwargs, error, name):
    with pytest.raises(error) as info:
        m.CFDLController(**kwargs)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_conversions_accept_number_protocols():
    c = m.CFDLController(eta=Float(), l_u=Index(1), l_y=False, mu=2)
    s = c.__getstate__()
    assert (s["eta"], s["l_u"], s["l_y"], s["mu"]) == (0.25, 1, 0, 2.0)
    assert type(s["mu"]) is float
    c.set_phi_hat((Index(3),))
    assert c.get_phi() == [3.0]


def test_first_failing_argument_is_reported():
    with pytest.raises(TypeError) as info:
        m.CFDLController(eta="a", mu="b")
    assert info.value.__notes__ == ["while processing 'eta'"]


class Reentrant:
    """A number whose conversion calls back into the controller."""

    def __init__(self, action):
        self.action = action
        self.seen = None

    def __float__(self):
        try:
            self.action()
        except RuntimeError as e:
            self.seen = str(e)
            raise
        return 1.0


@pytest.mark.parametrize(
    "inner, message",
    [
        (lambda c: c.update(0.0, 1.0), "Already borrowed"),
        (lambda c: c.reset(), "Already borrowed"),
        (lambda c: c.get_phi(), "Already mutably borrowed"),
        (lambda c: repr(c), "Already mutably borrowed"),
        (lambda c: c.__getstate__(), "Already mutably borrowed"),
        (lambda c: c.__getnewargs__(), "Already mutably borrowed"),
    ],
)
def test_reentry_is_refused_and_changes_nothing(inner, message):
    c = m.CFDLController()
    c.update(0.3, 1.0)
    before = c.__getstate__()
    arg = Reentrant(lambda: inner(c))
    with pytest.raises(RuntimeError) as info:
        c.update(arg, 1.0)
    assert arg.seen == message and str(info.value) == message
    assert info.value.__notes__ == ["while processing 'y'"]
    assert c.__getstate__() == before
    c.update(0.0, 1.0)  # the access is free again


def test_reentry_through_setter_and_sequence():
    c = m.CFDLController()
    arg = Reentrant(lambda: c.set_eta(1.0))
    with pytest.raises(RuntimeError) as info:
        c.set_phi_hat([arg])
    assert str(info.value) == "Already borrowed"
    assert c.get_phi() == [0.5]


@pytest.mark.parametrize(
    "value, text",
    [
        (1.0, "1.0000"), (0.02, "0.0200"), (1e-5, "0.0000"), (0.00005, "0.0001"), (0.125 / 1000, "0.0001"),
        (2.00005, "2.0000"), (-0.0, "-0.0000"), (-1.5, "-1.5000"), (1e20, "100000000000000000000.0000"),
        (float("nan"), "NaN"), (float("inf"), "inf"), (float("-inf"), "-inf"), (0.00015, "0.0001"), (0.03125, "0.0312"), (0.09375, "0.0938"),
        (0.5 ** 14 * 5, "0.0003"),
    ],
)
def test_representation_number_format(value, text):
    c = m.CFDLController()
    c.set_u0(value)
    assert repr(c).endswith(f"u0={text})")
    assert str(c) == repr(c)


def test_representation_with_defaults():
    assert repr(m.CFDLController()) == ("CFDLController(eta=1.0000, mu=1.0000, rho=0.1000, lambda_=0.0200, "
                                        "eps=0.0000, l_y=0, l_u=1, initial_phi=0.5000, u0=0.0000)")


def test_objects_are_freed():
    before = len(gc.get_objects())
    for _ in range(1000):
        c = m.CFDLController()
        c.update(1.0, 2.0)
        del c
    assert len(gc.get_objects()) <= before + 10


def test_buffers_of_doubles_convert_like_sequences():
    import array

    p = m.PFDLController()
    p.set_phi_hat(array.array("d", [1.5, -0.0]))
    assert p.get_phi() == [1.5, -0.0]
    p.set_phi_hat(memoryview(array.array("d", [7.0, 8.0, 9.0]))[::2])
    assert p.get_phi() == [7.0, 9.0]
    p.set_phi_hat(array.array("i", [3, 4]))  # not doubles: item by item
    assert p.get_phi() == [3.0, 4.0]
    p.set_phi_hat(b"ab")  # bytes are a sequence of ints
    assert p.get_phi() == [97.0, 98.0]
    np = pytest.importorskip("numpy")
    for a in (np.array([0.25, 0.5, 0.75])[::-2], np.array([0.75, 0.25], dtype=">f8"), np.array([0.75, 0.25], "f4")):
        p.set_phi_hat(a)
        assert p.get_phi() == [float(v) for v in a]
