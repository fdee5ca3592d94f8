"""The operating point: controllers and fleets started at a plant's resting output, and the
loops (simulate, tune) that start there by default."""

import numpy as np
import pytest

import vorn

REST = 7.0


class Titration:
    """A first-order loop resting at pH 7 with no input (vectorised over copies)."""

    def __init__(self, rest=REST, a=0.9, b=0.5):
        self.rest, self.a, self.b = rest, a, b

    def reset(self, n):
        self.y = np.full(n, self.rest)
        return self.y.copy()

    def step(self, u):
        self.y = self.a * self.y + self.b * np.asarray(u) + (1.0 - self.a) * self.rest
        return self.y.copy()


def _setpoint(steps=240):
    return np.where(np.arange(steps) < 120, REST + 1.5, REST - 0.5)


SINGLES = [vorn.CFDLController, vorn.PFDLController, vorn.FFDLController]
FLEETS = [vorn.CFDLFleet, vorn.PFDLFleet, vorn.FFDLFleet]


def _first_u(out):
    return out[0] if isinstance(out, tuple) else out


@pytest.mark.parametrize("cls", SINGLES)
def test_a_started_controller_moves_the_right_way_and_keeps_its_estimate(cls):
    cold, warm = cls(), cls()
    phi = warm.__getstate__()["phi_hat"]
    assert vorn.start(warm, REST, u0=0.25) is warm
    assert warm.__getstate__()["phi_hat"] == phi
    # Above the rest the input must rise from u0; the full form, started at zero, reads the
    # whole rest as a rise of the output and pulls it below.
    assert _first_u(warm.update(REST, REST + 1.5)) > 0.25
    if cls is vorn.FFDLController:
        assert _first_u(cold.update(REST, REST + 1.5)) < 0.0


@pytest.mark.parametrize("cls", SINGLES)
def test_a_started_controller_equals_one_in_deviation_variables(cls):
    started = vorn.start(cls(), REST)
    deviation = cls()
    y = REST + np.sin(np.arange(50) / 5.0)
    for yk in y:
        a = _first_u(started.update(float(yk), REST + 1.0))
        b = _first_u(deviation.update(float(yk) - REST, 1.0))
        assert a == pytest.approx(b, rel=1e-9, abs=1e-9)


@pytest.mark.parametrize("cls", FLEETS)
def test_fleets_start_per_member_as_singles_do(cls):
    levels = np.array([1.0, -2.0, 7.0])
    fleet = vorn.start(cls(3), levels, u0=0.5)
    singles = [vorn.start(SINGLES[FLEETS.index(cls)](), level, u0=0.5) for level in levels]
    u = fleet.update(levels + 1.0, levels + 2.0)
    assert u.tolist() == [_first_u(s.update(level + 1.0, level + 2.0)) for s, level in zip(singles, levels)]


def test_pid_starts_with_its_integral_at_u0():
    pid = vorn.start(vorn.PID(kp=0.1, ki=0.01), REST, u0=2.0)
    assert pid.update(REST, REST) == 2.0


@pytest.mark.parametrize("controller, y0, u0, error", [
    (vorn.MimoCfdlController(2), [REST, REST], None, TypeError),
    (object(), REST, None, TypeError),
    (vorn.PFDLController(), float("nan"), None, ValueError),
    (vorn.PFDLController(), [1.0, 2.0], None, ValueError),
    (vorn.PFDLFleet(3), [1.0, 2.0], None, ValueError),
    (vorn.PFDLFleet(3), 1.0, float("inf"), ValueError),
])
def test_refusals_leave_the_controller_as_it_was(controller, y0, u0, error):
    stateful = isinstance(controller, (vorn.PFDLController, vorn.PFDLFleet))
    before = repr(controller.__getstate__()) if stateful else None
    with pytest.raises(error):
        vorn.start(controller, y0, u0)
    if stateful:
        assert repr(controller.__getstate__()) == before


def test_simulate_starts_at_the_plant_by_default():
    run = vorn.simulate(vorn.FFDLController(), Titration(), _setpoint())
    cold = vorn.simulate(vorn.FFDLController(), Titration(), _setpoint(), start=None)
    assert run.u[0, 0] > 0.0 > cold.u[0, 0]
    assert run.metrics.iae[0] < cold.metrics.iae[0]


@pytest.mark.parametrize("controller", [vorn.PFDLController(), vorn.PFDLFleet(2), vorn.PID(kp=0.2, ki=0.05)])
def test_simulate_at_the_plant_equals_the_deviation_loop(controller):
    import copy

    deviation = copy.deepcopy(controller)
    run = vorn.simulate(controller, Titration(), _setpoint())
    dev = vorn.simulate(deviation, Titration(rest=0.0), _setpoint() - REST)
    np.testing.assert_allclose(run.y - REST, dev.y, rtol=0, atol=1e-9)
    np.testing.assert_allclose(run.metrics.iae, dev.metrics.iae, rtol=1e-9)


@pytest.mark.parametrize("name", ["nonlinear", "coupled"])
def test_built_in_plants_rest_at_zero_so_start_changes_nothing(name):
    cls = vorn.MimoPfdlController if name == "coupled" else vorn.PFDLController
    make = (lambda: cls(2)) if name == "coupled" else cls
    runs = [vorn.simulate(make(), name, 300, noise=0.01, seed=4, start=s) for s in ("plant", None)]
    assert runs[0].y.tobytes() == runs[1].y.tobytes() and runs[0].u.tobytes() == runs[1].u.tobytes()


def test_start_must_be_plant_or_none():
    with pytest.raises(ValueError, match="start must be 'plant'"):
        vorn.simulate(vorn.PFDLController(), Titration(), _setpoint(), start="zero")


def test_the_tuned_loop_at_the_plant_equals_the_deviation_loop():
    kw = dict(seed=1, max_generations=3, pid=False)
    at_plant = vorn.tune("pfdl", Titration(), _setpoint(), **kw)
    deviation = vorn.tune("pfdl", Titration(rest=0.0), _setpoint() - REST, **kw)
    assert at_plant.cost == pytest.approx(deviation.cost, rel=1e-6)
    assert at_plant.run().metrics.iae[0] == pytest.approx(deviation.run().metrics.iae[0], rel=1e-6)
