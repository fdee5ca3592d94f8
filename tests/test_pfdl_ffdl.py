"""PFDLController and FFDLController: the worked update cycles, the estimator and control
laws through chosen states, setters and reset, pickling, and the refusal of vectors too
short for the update."""

import copy
import pickle

import pytest

from vorn import _vorn_core as m

PF, FF = m.PFDLController, m.FFDLController

PFDL_STEPS = [  # y, delta_y, delta_h, phi, u — yd = 1.0, defaults, l_u = 2
    (0.0, 0.0, [0.0, 0.0], [0.5, 0.5], 0.18518518518518517),
    (0.1, 0.1, [0.18518518518518517, 0.0], [0.5013262599469496, 0.5], 0.334367911477713),
    (0.3, 0.19999999999999998, [0.14918272629252782, 0.18518518518518517],
     [0.5059318865782005, 0.5057171084199764], 0.4488680440225914),
]
FFDL_STEPS = [  # defaults, l_y = 1, l_u = 2
    (0.0, 0.0, [0.0, 0.0, 0.0], [0.5, 0.5, 0.5], 0.18518518518518517),
    (0.1, 0.1, [0.0, 0.18518518518518517, 0.0], [0.5, 0.5013262599469496, 0.5], 0.3251295316384968),
    (0.3, 0.19999999999999998, [0.1, 0.1399443464533116, 0.18518518518518517],
     [0.4988015196549469, 0.49964905446069363, 0.49778059195360536], 0.42344351743986447),
]


def state_of(cls, l_y, l_u, **dynamic):
    """A complete state dictionary for a controller of `cls` with default parameters."""
    s = cls(l_y=l_y, l_u=l_u).__getstate__()
    s.update(dynamic)
    return s


def with_state(cls, **kw):
    l_y, l_u = kw.pop("l_y"), kw.pop("l_u")
    c = cls(l_y=l_y, l_u=l_u)
    c.__setstate__(state_of(cls, l_y, l_u, **kw))
    return c


@pytest.mark.parametrize("cls, steps", [(PF, PFDL_STEPS), (FF, FFDL_STEPS)])
def test_worked_sequences(cls, steps):
    logged, plain = cls(), cls()
    for y, dy, dh, phi, u in steps:
        assert logged.update_logged(y, 1.0) == (u, dy, dh, 1.0 - y, phi)
        assert plain.update(y, 1.0) == u
        assert logged.__getstate__() == plain.__getstate__()
        assert logged.get_phi() == phi


def test_worked_ffdl_step_and_histories():
    c = FF(l_y=1, l_u=1)
    assert c.update_logged(0.2, 1.0) == (0.12962962962962962, 0.2, [0.0, 0.0], 0.8, [0.5, 0.5])
    s = c.__getstate__()
    assert (s["y_hist"], s["u_hist"]) == ([0.2, 0.0], [0.12962962962962962, 0.0])


@pytest.mark.parametrize(
    "cls, kw, y, phi",
    [
        # partial form: delta_h = [1.0], delta_y = y - y_prev
        (PF, dict(l_y=0, l_u=1, u_hist=[1.0, 0.0], y_prev=0.0), 2.0, [1.25]),
        (PF, dict(l_y=0, l_u=1, u_hist=[1.0, 0.0], y_prev=0.0), -2.0, [0.5]),  # sign change
        (PF, dict(l_y=0, l_u=1, u_hist=[1.0, 0.0], y_prev=0.0), -0.5, [0.5]),  # c_0 = 0.0
        # full form, s = 1: delta_h = [0.0, 2.0], delta_y = 3.0
        (FF, dict(l_y=1, l_u=1, y_hist=[0.0, 0.0], u_hist=[2.0, 0.0]), 3.0, [0.5, 1.3]),
        (FF, dict(l_y=1, l_u=1, y_hist=[0.0, 0.0], u_hist=[0.0, 0.0]), 3.0, [0.5, 0.5]),  # norm² = 0
    ],
)
def test_estimator_worked_values(cls, kw, y, phi):
    c = with_state(cls, **kw)
    assert c.update_logged(y, 1.0)[4] == phi


@pytest.mark.parametrize(
    "cls, kw, rho_vector, u",
    [
        (PF, dict(l_y=0, l_u=2, phi_hat=[0.5, 0.5], u_hist=[1.0, 0.5, 0.0]), None, 1.1018518518518519),
        (PF, dict(l_y=0, l_u=1, phi_hat=[0.5], u_hist=[1.0, 0.5]), None, 1.1481481481481481),
        (FF, dict(l_y=1, l_u=2, phi_hat=[0.2, 0.5, 0.3], y_hist=[0.1, 0.0], u_hist=[1.0, 0.5, 0.0]), None,
         1.1166666666666667),
        (FF, dict(l_y=1, l_u=2, phi_hat=[0.2, 0.5, 0.3], y_hist=[0.1, 0.0], u_hist=[1.0, 0.5, 0.0]),
         [0.1, 0.1, 0.1], 1.145),
    ],
)
def test_control_law_worked_values(cls, kw, rho_vector, u):
    if rho_vector is not None:
        kw["rho_vector"] = rho_vector
    c = with_state(cls, **kw)
    c.set_eps(10.0)  # eps² above any norm²: the estimate resets to the restored vector
    assert c.update(0.2, 1.0) == u


def test_update_logged_result_types():
    u, dy, dh, e, phi = FF().update_logged(0.0, 1.0)
    assert all(type(x) is float for x in (u, dy, e)) and type(dh) is list and type(phi) is list
    assert type(PF().update(0.0, 1.0)) is float


@pytest.mark.parametrize("cls", [PF, FF])
def test_set_u0_takes_effect_at_reset(cls):
    c, ref = cls(), cls()
    c.set_u0(5.0)
    assert c.update(0.0, 1.0) == ref.update(0.0, 1.0)
    c.reset()
    assert c.__getstate__()["u_hist"] == [5.0, 5.0, 5.0]


@pytest.mark.parametrize("cls", [PF, FF])
def test_initial_phi_and_phi_hat_reset_values(cls):
    c = cls(l_u=2) if cls is PF else cls(l_y=0, l_u=2)
    c.set_initial_phi([0.7, 0.8])
    assert "initial_phi=0.7000" in repr(c)
    assert c.get_phi() == [0.5, 0.5]
    c.update(0.0, 1.0)  # the first update resets the estimate
    assert c.get_phi() == [0.7, 0.8]
    c.set_phi_hat([2.0, 3.0])
    c.update(0.4, 1.0)
    c.reset()
    assert c.get_phi() == [2.0, 3.0]


def test_rho_vector_survives_reset_and_pickling():
    c = FF()
    assert c.__getstate__()["rho_vector"] is None
    c.set_rho_vector([1.0, 0.5, 0.5])
    c.reset()
    assert c.__getstate__()["rho_vector"] == [1.0, 0.5, 0.5]
    assert pickle.loads(pickle.dumps(c)).__getstate__()["rho_vector"] == [1.0, 0.5, 0.5]


@pytest.mark.parametrize("cls", [PF, FF])
def test_inverted_limits_give_upper_limit(cls):
    c = cls(u_min=0.0, u_max=1.0)
    c.set_u_min(2.0)
    assert [c.update(y, 1.0) for y in (0.0, 0.5, float("nan"))] == [1.0, 1.0, 1.0]


@pytest.mark.parametrize("cls", [PF, FF])
@pytest.mark.parametrize("clone", [copy.copy, copy.deepcopy, lambda c: pickle.loads(pickle.dumps(c, 2))])
def test_clones_continue_identically(cls, clone):
    c = cls(rho=0.3, u_min=-5.0)
    for y in (0.0, 0.1, 0.3):
        c.update(y, 1.0)
    d = clone(c)
    assert d.get_phi() == c.get_phi() and repr(d) == repr(c)
    for y in (0.45, 0.6, 0.7):
        assert d.update_logged(y, 1.0) == c.update_logged(y, 1.0)
    # The clone's reset value is the estimate it was cloned with; the original's is initial_phi.
    saved = c.get_phi()
    e = clone(c)
    e.reset()
    c.reset()
    assert e.get_phi() == saved != c.get_phi()


@pytest.mark.parametrize(
    "cls, call, message",
    [
        (PF, lambda c: c.set_phi_hat([]), "phi 长度至少为 1，实际为 0"),
        (PF, lambda c: c.set_initial_phi([]), "initial_phi 长度至少为 1，实际为 0"),
        (FF, lambda c: c.set_phi_hat([1.0, 2.0]), "phi 长度至少为 3，实际为 2"),
        (FF, lambda c: c.set_initial_phi([1.0]), "initial_phi 长度至少为 3，实际为 1"),
        (FF, lambda c: c.set_rho_vector([0.1, 0.1]), "rho 长度至少为 3，实际为 2"),
        (PF, lambda c: c.__setstate__(state_of(PF, 0, 2, u_hist=[0.0, 0.0])), "u_hist 长度至少为 3，实际为 2"),
        (PF, lambda c: c.__setstate__(state_of(PF, 0, 2, phi_hat=[])), "phi_hat 长度至少为 1，实际为 0"),
        (FF, lambda c: c.__setstate__(state_of(FF, 1, 2, y_hist=[0.0])), "y_hist 长度至少为 2，实际为 1"),
        (FF, lambda c: c.__setstate__(state_of(FF, 1, 2, u_hist=[0.0])), "u_hist 长度至少为 3，实际为 1"),
        (FF, lambda c: c.__setstate__(state_of(FF, 1, 2, phi_hat=[0.5, 0.5])), "phi_hat 长度至少为 3，实际为 2"),
        (FF, lambda c: c.__setstate__(state_of(FF, 1, 2, rho_vector=[1.0])), "rho_vector 长度至少为 3，实际为 1"),
        (PF, lambda c: c.__setstate__(dict(state_of(PF, 0, 2), l_y=1)), "伪阶数不满足当前控制器格式要求"),
        (FF, lambda c: c.__setstate__(dict(state_of(FF, 1, 2), l_u=0)), "伪阶数不满足当前控制器格式要求"),
    ],
)
def test_refusals_leave_object_unchanged(cls, call, message):
    c = cls()
    c.update(0.3, 1.0)
    before = c.__getstate__()
    with pytest.raises(ValueError) as info:
        call(c)
    assert info.value.args == (message,)
    assert c.__getstate__() == before


@pytest.mark.parametrize("cls", [PF, FF])
def test_setstate_missing_key_and_bad_values(cls):
    c = cls()
    before = c.__getstate__()
    for key in ("phi_hat", "u_hist", "eta"):
        s = dict(before)
        del s[key]
        with pytest.raises(KeyError, match=key):
            c.__setstate__(s)
    with pytest.raises(TypeError):
        c.__setstate__(dict(before, u_hist="abc"))
    with pytest.raises(OverflowError):
        c.__setstate__(dict(before, l_u=2**64 - 1))
    assert c.__getstate__() == before
    c.__setstate__(dict(before, eta=5.0))  # no numeric validation on restore
    assert "eta=5.0000" in repr(c)


@pytest.mark.parametrize(
    "cls, phi, after",
    [
        (PF, [0.4, 0.6, 0.9], 2),  # longer: cut to l_u by the next update that keeps its candidate
        (FF, [0.4, 0.6, 0.9, 1.0], 3),
    ],
)
def test_longer_vectors_accepted_and_cut(cls, phi, after):
    c = cls()
    c.update(0.0, 1.0)
    c.set_phi_hat(phi)
    assert c.get_phi() == phi
    c.update(0.2, 1.0)
    assert len(c.get_phi()) == after


def test_shorter_partial_estimate_is_allowed():
    c = PF(l_u=3)
    c.set_phi_hat([0.5])
    for y in (0.0, 0.1, 0.2):
        u = c.update(y, 1.0)
    assert u == u and len(c.get_phi()) == 1


@pytest.mark.parametrize(
    "make, exc",
    [
        (lambda: PF(l_u=2**64 - 1), OverflowError),
        (lambda: FF(l_y=2**63), OverflowError),
        (lambda: FF(l_y=2**64 - 1, l_u=1), OverflowError),
        (lambda: PF(l_u=2**40), MemoryError),
        (lambda: FF(l_y=2**40), MemoryError),
    ],
)
def test_huge_pseudo_orders(make, exc):
    with pytest.raises(exc):
        make()


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda: PF(l_y=1), "PFDL 要求 l_y == 0 且 l_u >= 1"),
        (lambda: PF(l_u=0), "PFDL 要求 l_y == 0 且 l_u >= 1"),
        (lambda: FF(l_u=0), "FFDL 要求 l_u >= 1"),
        (lambda: PF(eta=3, l_y=1), "eta 必须满足 0 < eta <= 2"),
    ],
)
def test_construction_form_messages(make, message):
    with pytest.raises(ValueError) as info:
        make()
    assert info.value.args == (message,)


def test_ffdl_without_output_order():
    c = FF(l_y=0, l_u=1)
    assert c.update_logged(0.0, 1.0)[2] == [0.0]
    assert c.__getstate__()["y_hist"] == [0.0]


@pytest.mark.parametrize("cls, l_y", [(PF, 0), (FF, 1)])
def test_class_surface(cls, l_y):
    name = cls.__name__
    assert cls.__module__ == "vorn._vorn_core"
    assert cls.__text_signature__ == (f"(eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_y={l_y}, l_u=2, "
                                      "initial_phi=0.5, u0=0.0, u_min=None, u_max=None)")
    assert repr(cls()) == (f"{name}(eta=1.0000, mu=1.0000, rho=0.1000, lambda_=0.0200, eps=0.0000, l_y={l_y}, "
                           "l_u=2, initial_phi=0.5000, u0=0.0000)")
    assert cls.update.__doc__ == "执行一步控制更新，返回新的控制输入。"
    assert cls.update_logged.__text_signature__ == "($self, y, yd)"
    assert cls.get_phi.__doc__ == "返回当前 PPD 向量估计。"
    assert cls.set_initial_phi.__doc__ is None
    assert hasattr(cls, "set_rho_vector") == (cls is FF)
    with pytest.raises(TypeError) as info:
        cls().update_logged(1.0)
    assert str(info.value) == f"{name}.update_logged() missing 1 required positional argument: 'yd'"


@pytest.mark.parametrize("cls", [PF, FF])
def test_initial_phi_number_is_refused_with_note(cls):
    with pytest.raises(TypeError) as info:
        cls().set_initial_phi(0.7)
    assert info.value.__notes__ == ["while processing 'initial_phi'"]


def test_reentry_during_update_is_refused():
    c = PF()

    class Sneaky:
        def __float__(self):
            c.get_phi()
            return 0.0

    with pytest.raises(RuntimeError, match="Already mutably borrowed"):
        c.update(Sneaky(), 1.0)
    assert c.update(0.0, 1.0) == 0.18518518518518517
