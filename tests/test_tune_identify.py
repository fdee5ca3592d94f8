"""vorn.initial_phi_from_data: the estimate of synthetic plants with known gains, the plant's
sign behind a dead time, and the refusals."""

import numpy as np
import pytest

import vorn
from vorn.tuning.identify import bump_test


def log(plant, samples=400, seed=0):
    """A random input and the plant's response: y[k+1] = plant(y history, u history)."""
    u = np.random.default_rng(seed).standard_normal(samples)
    y = np.zeros(samples)
    for k in range(samples - 1):
        y[k + 1] = plant(y, u, k)
    return u, y


@pytest.mark.parametrize("form, orders, plant, expected", [
    ("cfdl", {}, lambda y, u, k: 0.5 * u[k], [0.5]),
    ("pfdl", {"l_u": 2}, lambda y, u, k: -2.0 * u[k], [-2.0, 0.0]),
    ("pfdl", {"l_u": 2}, lambda y, u, k: 0.7 * u[k] + 0.2 * u[k - 1], [0.7, 0.2]),
    ("ffdl", {"l_y": 1, "l_u": 1}, lambda y, u, k: 0.8 * y[k] + 0.4 * u[k], [0.8, 0.4]),
])
def test_known_gains_are_recovered(form, orders, plant, expected):
    u, y = log(plant)
    phi = vorn.initial_phi_from_data(u, y, form=form, **orders)
    assert phi == pytest.approx(expected, abs=2e-3)


@pytest.mark.parametrize("gain", [2.0, -2.0])
def test_behind_a_dead_time_the_newest_entry_carries_the_plants_sign(gain):
    u, y = log(lambda y, u, k: 0.8 * y[k] + 0.2 * gain * u[k - 3])
    phi = vorn.initial_phi_from_data(u, y, form="pfdl", l_u=5)
    assert np.sign(phi[0]) == np.sign(gain)
    assert np.argmax(np.abs(phi)) == 3 and phi[3] * gain > 0  # the delayed input's effect
    controller = vorn.PFDLController(l_u=5, initial_phi=float(phi[0]))
    controller.set_phi_hat(phi)
    assert controller.get_phi() == phi.tolist()


def test_noise_is_tolerated():
    u, y = log(lambda y, u, k: 0.5 * u[k], samples=2000)
    y = y + 0.01 * np.random.default_rng(1).standard_normal(len(y))
    assert vorn.initial_phi_from_data(u, y, form="cfdl")[0] == pytest.approx(0.5, rel=0.05)


@pytest.mark.parametrize("u, y, kwargs, message", [
    (np.ones(50), np.arange(50.0), {}, "never changes"),
    (np.arange(50.0), np.arange(49.0), {}, "one entry per sample"),
    (np.arange(4.0), np.arange(4.0), {}, "too few"),
    (np.array([0.0, np.nan, 1.0, 2.0, 3.0, 4.0]), np.arange(6.0), {}, "finite"),
    (np.zeros((5, 2)), np.zeros((5, 2)), {}, "1-D"),
    (np.arange(50.0), np.arange(50.0), {"form": "mimo"}, "unknown form"),
    (np.arange(50.0), np.arange(50.0), {"form": "pfdl", "l_y": 1}, "l_y = 0"),
    (np.arange(50.0), np.arange(50.0), {"l_u": 0}, "at least 1"),
    (np.arange(50.0), np.arange(50.0), {"ridge": 0.0}, "ridge"),
])
def test_bad_logs_are_refused(u, y, kwargs, message):
    with pytest.raises(ValueError, match=message):
        vorn.initial_phi_from_data(u, y, **kwargs)


SAME = [(1e300, 1e300), (1e-300, 1e-300), (2.0**-1074 * 2**40, 2.0**-1074 * 2**40)]
APART = [(1e-300, 1.0), (1e150, 1e-150)]


# The ridge weighs every entry alike, so the full form (whose entries relate Δy to both Δy
# and Δu) is invariant only when u and y share a scale; the others whatever their scales.
@pytest.mark.parametrize("form, orders, u_scale, y_scale",
                         [(f, o, *s) for f, o in (("cfdl", {}), ("pfdl", {"l_u": 3})) for s in SAME + APART]
                         + [("ffdl", {"l_y": 2, "l_u": 2}, *s) for s in SAME])
def test_the_estimate_does_not_depend_on_the_datas_scale(form, orders, u_scale, y_scale):
    u, y = log(lambda y, u, k: 0.6 * y[k] + 0.3 * u[k] + 0.1 * u[k - 1])
    unit = vorn.initial_phi_from_data(u, y, form=form, **orders)
    scaled = vorn.initial_phi_from_data(u * u_scale, y * y_scale, form=form, **orders)
    # An entry relating Δy to Δu scales by y_scale / u_scale; one relating Δy to Δy does not.
    ratio = np.array([1.0] * orders.get("l_y", 0) + [y_scale / u_scale] * (len(unit) - orders.get("l_y", 0)))
    assert scaled == pytest.approx(unit * ratio, rel=1e-9)


@pytest.mark.parametrize("form, u_scale, y_scale, ridge", [
    ("pfdl", 1.0, 1.0, 1e308), ("cfdl", 1e300, 1e-300, 1e-4), ("pfdl", 1e-300, 1e300, 1e-4),
    ("ffdl", 1e-300, 1.0, 1e-4), ("ffdl", 1e200, 1e-200, 1e-4),
])
def test_an_estimate_beyond_double_precision_is_refused_never_nan(form, u_scale, y_scale, ridge):
    u, y = log(lambda y, u, k: 0.6 * y[k] + 0.5 * u[k])
    with np.errstate(all="raise"):  # no RuntimeWarning on the way either
        with pytest.raises(ValueError, match="beyond double precision"):
            vorn.initial_phi_from_data(u * u_scale, y * y_scale, form=form, ridge=ridge)


class Delayed:
    """y(k+1) = 0.8·y(k) + gain·u(k − delay), at rest at `rest` with u = u0."""

    def __init__(self, delay, gain=0.5, rest=0.0, u0=0.0):
        self.delay, self.gain, self.rest, self.u0 = delay, gain, rest, u0

    def reset(self, n):
        self.y = np.full(n, self.rest)
        self.pending = [np.full(n, self.u0) for _ in range(self.delay)]
        return self.y.copy()

    def step(self, u):
        self.pending.append(np.array(u, dtype=float))
        self.y = self.rest + 0.8 * (self.y - self.rest) + self.gain * (self.pending.pop(0) - self.u0)
        return self.y.copy()


@pytest.mark.parametrize("delay", [0, 1, 4, 7])
@pytest.mark.parametrize("gain", [0.5, -2.0])
def test_the_bump_test_finds_the_dead_time_and_the_gains_sign(delay, gain):
    found = bump_test(Delayed(delay, gain, rest=7.0))
    assert found.dead_time == delay and found.gain_sign == np.sign(gain) and found.y0 == 7.0
    assert found.gain == pytest.approx(gain / 0.2, rel=0.01)  # the static gain, nearly settled


@pytest.mark.parametrize("u0, u_min, u_max, bump", [
    (0.0, None, None, 1.0),
    (0.0, -1.0, 0.5, -0.5),   # more room below: down, by half of it
    (0.9, 0.0, 1.0, -0.45),
    (0.0, 0.0, 0.0, None),    # the input cannot move: nothing to learn
])
def test_the_bump_stays_inside_the_input_limits(u0, u_min, u_max, bump):
    found = bump_test(Delayed(2, u0=u0), u0, u_min, u_max)
    assert (found is None) if bump is None else found.bump == pytest.approx(bump)


def test_a_plant_that_does_not_move_identifies_nothing_and_the_tuner_still_runs():
    class Flat(Delayed):
        def step(self, u):
            return self.y.copy()

    assert bump_test(Flat(0)) is None
    t = vorn.tune("pfdl", Delayed(3), np.repeat([1.0, 2.0], 60), seed=0, max_generations=2, pid=False)
    assert t.identified.dead_time == 3
    assert t.params["l_u"] >= 4  # l_u searched from the dead time + 1


def test_the_identified_sign_steers_the_search_without_a_start():
    t = vorn.tune("cfdl", Delayed(0, gain=-0.5), np.repeat([1.0, 2.0], 60), seed=0, max_generations=3)
    assert t.identified.gain_sign == -1.0
    assert t.params["initial_phi"] < 0 and t.pid.params["kp"] < 0
    assert t.cost < t.default_cost
