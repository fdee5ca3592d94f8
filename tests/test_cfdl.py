"""CFDLController: parameters and validation, the control step, setters, reset, pickling."""

import copy
import math
import pickle

import pytest

from vorn import _vorn_core as m

NAN = float("nan")


def test_first_two_steps_with_defaults():
    c = m.CFDLController()
    assert c.update(0.0, 1.0) == (0.18518518518518517, 0.0, 0.0, 1.0, 0.5)
    assert c.update(0.1, 1.0) == (0.3514760222910763, 0.1, 0.18518518518518517, 0.9, 0.5013262599469496)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"eta": 0.0}, "eta 必须满足 0 < eta <= 2"),
        ({"eta": 2.0000001}, "eta 必须满足 0 < eta <= 2"),
        ({"mu": 0.0}, "mu 必须为正"),
        ({"rho": 0.0}, "rho 必须满足 0 < rho <= 1"),
        ({"rho": 1.5}, "rho 必须满足 0 < rho <= 1"),
        ({"lambda_": 0.0}, "lambda 必须为正"),
        ({"eps": -1e-9}, "eps 必须为正"),
        ({"u_min": 2.0, "u_max": 1.0}, "u_min 不能大于 u_max"),
        ({"eta": 0.0, "mu": -1.0}, "eta 必须满足 0 < eta <= 2"),
        ({"eta": 0.0, "l_u": 2}, "eta 必须满足 0 < eta <= 2"),
        ({"l_u": 2}, "CFDL 要求 l_y == 0 且 l_u == 1"),
        ({"l_y": 1}, "CFDL 要求 l_y == 0 且 l_u == 1"),
    ],
)
def test_construction_refusals_in_order(kwargs, message):
    with pytest.raises(ValueError) as info:
        m.CFDLController(**kwargs)
    assert info.value.args == (message,)


@pytest.mark.parametrize(
    "kwargs",
    [{"eta": 2.0, "rho": 1.0}, {"eta": NAN}, {"mu": NAN, "eps": NAN}, {"u_min": 1.0, "u_max": 1.0},
     {"u_min": 3.0}, {"u_max": -3.0}],
)
def test_construction_accepts_boundaries_and_nan(kwargs):
    m.CFDLController(**kwargs)


def test_constant_input_resets_estimate_each_step():
    c = m.CFDLController(u0=1.0, u_min=1.0, u_max=1.0)
    c.set_phi_hat([2.0])
    for y in (0.3, 0.7, 0.1):
        c.update(y, 1.0)
        assert c.get_phi() == [2.0]


def test_limits_upper_applied_last_and_nan_rules():
    c = m.CFDLController()
    c.set_u_min(2.0)
    c.set_u_max(1.0)
    assert [c.update(y, 5.0)[0] for y in (0.0, 0.5, -3.0)] == [1.0, 1.0, 1.0]
    c = m.CFDLController(u_min=-1.0, u_max=1.0)
    assert c.update(NAN, 1.0)[0] == -1.0
    c = m.CFDLController(u_max=1.0)
    assert c.update(NAN, 1.0)[0] == 1.0
    assert math.isnan(m.CFDLController().update(NAN, 1.0)[0])


def test_initial_phi_and_phi_hat_setters_choose_the_reset_value():
    c = m.CFDLController()
    c.set_initial_phi(3.0)
    assert c.get_phi() == [0.5]
    c.reset()
    assert c.get_phi() == [3.0]
    c.set_phi_hat((2,))
    c.update(0.0, 1.0)  # du = 0: the reset rule fires
    assert c.get_phi() == [2.0]


def test_set_u0_takes_effect_at_reset():
    c = m.CFDLController()
    c.set_u0(5.0)
    assert c.update(0.0, 0.0)[0] == 0.0
    c.reset()
    assert c.update(0.0, 0.0)[0] == 5.0
    state = c.__getstate__()
    assert (state["u_prev"], state["u_prev2"]) == (5.0, 5.0)


def test_reset_restores_history():
    c = m.CFDLController(u0=0.25)
    fresh = c.__getstate__()
    for y in (0.1, 0.4, 0.2):
        c.update(y, 1.0)
    c.reset()
    assert c.__getstate__() == fresh


def test_setters_store_without_validation():
    c = m.CFDLController()
    c.set_eta(5.0)
    c.set_mu(-1.0)
    c.set_rho(7.0)
    c.set_lambda(0.0)
    c.set_eps(-2.0)
    s = c.__getstate__()
    assert (s["eta"], s["mu"], s["rho"], s["lambda"], s["eps"]) == (5.0, -1.0, 7.0, 0.0, -2.0)
    assert "eta=5.0000" in repr(c)
    c.set_u_min(1.0)
    c.set_u_min(None)
    assert c.__getstate__()["u_min"] is None


def run(c, ys, yd=1.0):
    return [c.update(y, yd) for y in ys]


@pytest.mark.parametrize("copier", [
    lambda c: pickle.loads(pickle.dumps(c, protocol=2)),
    lambda c: pickle.loads(pickle.dumps(c, protocol=pickle.HIGHEST_PROTOCOL)),
    copy.copy,
    copy.deepcopy,
])
def test_copies_continue_identically(copier):
    c = m.CFDLController(eta=0.7, rho=0.4, u_min=-20.0, u_max=20.0)
    run(c, [0.0, 0.2, 0.5, 0.4])
    d = copier(c)
    assert d is not c and d.__getstate__() == c.__getstate__()
    ys = [0.6, 0.9, 1.1, 0.95]
    assert run(d, ys) == run(c, ys)


def test_unpickling_validates_constructor_arguments():
    c = m.CFDLController()
    c.set_eta(5.0)
    data = pickle.dumps(c)
    with pytest.raises(ValueError, match="^eta 必须满足 0 < eta <= 2$"):
        pickle.loads(data)


def test_restored_estimate_becomes_reset_value():
    c = m.CFDLController()
    run(c, [0.0, 0.1, 0.3])
    saved = c.get_phi()
    d = pickle.loads(pickle.dumps(c))
    d.reset()
    assert d.get_phi() == saved


def test_getstate_keys_and_types():
    s = m.CFDLController(u_max=2.0).__getstate__()
    assert list(s) == ["eta", "mu", "rho", "lambda", "eps", "l_y", "l_u", "initial_phi", "u0", "u_min",
                       "u_max", "y_prev", "u_prev", "u_prev2", "phi_hat"]
    assert type(s["l_y"]) is int and s["u_min"] is None and s["u_max"] == 2.0
    assert m.CFDLController(u_min=-1.0).__getnewargs__() == (1.0, 1.0, 0.1, 0.02, 1e-05, 0, 1, 0.5, 0.0, -1.0, None)


def test_setstate_restores_without_validation():
    c = m.CFDLController()
    state = c.__getstate__()
    state.update(l_u=5, eta=9.0, phi_hat=1.5, y_prev=0.5)
    c.__setstate__(state)
    assert "l_u=5" in repr(c) and "eta=9.0000" in repr(c)
    assert c.get_phi() == [1.5]


@pytest.mark.parametrize("missing", ["eta", "u_max", "y_prev", "phi_hat"])
def test_setstate_missing_key_leaves_object_unchanged(missing):
    c = m.CFDLController()
    c.update(0.2, 1.0)
    before = c.__getstate__()
    state = dict(before, eta=1.5)
    del state[missing]
    with pytest.raises(KeyError) as info:
        c.__setstate__(state)
    assert info.value.args == (missing,)
    assert c.__getstate__() == before


def test_setstate_bad_values():
    c = m.CFDLController()
    before = c.__getstate__()
    with pytest.raises(TypeError) as info:
        c.__setstate__(dict(before, eta=1.5, u0="x"))
    assert not getattr(info.value, "__notes__", None)
    with pytest.raises(OverflowError):
        c.__setstate__(dict(before, l_y=-1))
    with pytest.raises(TypeError) as info:
        c.__setstate__([("eta", 1.0)])
    assert str(info.value) == "'list' object is not an instance of 'dict'"
    assert info.value.__notes__ == ["while processing 'state'"]
    assert c.__getstate__() == before

    class D(dict):
        pass

    c.__setstate__(D(before, phi_hat=0.75))
    assert c.get_phi() == [0.75]


@pytest.mark.parametrize(
    "phi, error, message",
    [
        ([1.0, 2.0], ValueError, "CFDL 的 phi_hat 长度必须为 1，实际为 2"),
        ([], ValueError, "CFDL 的 phi_hat 长度必须为 1，实际为 0"),
        ("1", TypeError, "Can't extract `str` to `Vec`"),
        (1.0, TypeError, "'float' object is not an instance of 'Sequence'"),
        ({1.0}, TypeError, "'set' object is not an instance of 'Sequence'"),
        (None, TypeError, "'None' is not an instance of 'Sequence'"),
    ],
)
def test_set_phi_hat_refusals(phi, error, message):
    c = m.CFDLController()
    with pytest.raises(error) as info:
        c.set_phi_hat(phi)
    assert str(info.value) == message
    assert c.get_phi() == [0.5]
