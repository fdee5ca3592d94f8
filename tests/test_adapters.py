"""The plant adapters against the source systems' own responses: python-control's
forced_response and input_output_response, SciPy's dlsim, and a float plant stepped by hand,
on the same inputs. Linear systems agree to 1e-9 (the same arithmetic in another order);
integrated nonlinear ones to 1e-6."""

import functools

import numpy as np
import pytest

import vorn
from vorn.plants import from_control, from_scalar, from_scipy

control = pytest.importorskip("control")
signal = pytest.importorskip("scipy.signal")

STEPS = 60
LINEAR = 1e-9


def drive(plant, u):
    """The plant's outputs y(0..K) for inputs u(0..K-1), u of shape (K, n) or (K, n, dim)."""
    ys = [plant.reset(u.shape[1])]
    for k in range(len(u)):
        ys.append(plant.step(u[k]))
    return np.array(ys)


def inputs(n, dim=None, steps=STEPS, seed=1):
    shape = (steps, n) if dim is None else (steps, n, dim)
    return np.random.default_rng(seed).uniform(-1.0, 1.0, shape)


def sopdt():
    return control.tf([2.0], [20.0, 9.0, 1.0])  # gain 2, lags 5 s and 4 s


def with_delay(system, delay):
    return system * control.tf([1.0], [1.0] + [0.0] * delay, system.dt)


@pytest.mark.parametrize("delay", [0, 4])
def test_a_sampled_transfer_function_matches_its_forced_response(delay):
    u = inputs(3)
    y = drive(from_control(sopdt(), dt=1.0, delay=delay), u)
    reference = with_delay(control.sample_system(sopdt(), 1.0, method="zoh"), delay)
    for i in range(3):
        expected = control.forced_response(reference, np.arange(STEPS + 1), np.append(u[:, i], 0.0)).outputs
        np.testing.assert_allclose(y[:, i], expected, atol=LINEAR)


def test_a_mimo_state_space_system_matches_its_forced_response():
    a = [[0.8, 0.1], [-0.2, 0.7]]
    b = [[1.0, 0.3], [0.0, 0.5]]
    system = control.ss(a, b, np.eye(2), np.zeros((2, 2)), 1.0)
    u = inputs(2, dim=2)
    y = drive(from_control(system, delay=2), u)
    assert y.shape == (STEPS + 1, 2, 2)
    for i in range(2):
        delayed = np.vstack([np.zeros((2, 2)), u[:, i]])[: STEPS + 1]
        expected = control.forced_response(system, np.arange(STEPS + 1), delayed.T).outputs
        np.testing.assert_allclose(y[:, i].T, expected, atol=LINEAR)


@pytest.mark.parametrize("system", [
    signal.dlti([0.5, 0.1], [1.0, -0.9, 0.2], dt=0.5),                    # strictly proper
    signal.dlti([1.0, 0.5, 0.1], [1.0, -0.9, 0.2], dt=1.0),               # with feedthrough
    signal.StateSpace([[0.5, 0.2], [0.0, 0.6]], [[1.0], [1.0]], [[1.0, 0.0]], [[0.0]], dt=1.0),
], ids=["tf", "feedthrough", "ss"])
def test_a_scipy_system_matches_dlsim(system):
    delay = 3
    u = inputs(2)
    y = drive(from_scipy(system, delay=delay), u)
    for i in range(2):
        delayed = np.concatenate([np.zeros(delay), u[:, i]])[: STEPS + 1]
        expected = signal.dlsim(system, delayed)[1]
        np.testing.assert_allclose(y[:, i], expected[:, 0], atol=LINEAR)


def test_a_discrete_nonlinear_system_matches_its_input_output_response():
    def update(t, x, u, params):
        return [0.6 * x[0] + 0.3 * np.tanh(x[1]) + u[0], 0.5 * x[1] + 0.2 * x[0] ** 2 * params["c"]]

    system = control.nlsys(update, lambda t, x, u, params: [x[0] + x[1]], inputs=1, outputs=1,
                           states=2, dt=1.0, params={"c": 1.0})
    u = inputs(2) * 0.5
    y = drive(from_control(system, params={"c": 0.5}), u)
    for i in range(2):
        expected = control.input_output_response(system, np.arange(STEPS + 1), np.append(u[:, i], 0.0),
                                                 params={"c": 0.5}).outputs
        np.testing.assert_allclose(y[:, i], expected, atol=LINEAR)


def test_a_continuous_nonlinear_system_is_integrated_with_the_input_held():
    def tank(t, x, u, params):
        return [(u[0] - 0.5 * np.sqrt(max(x[0], 0.0))) / 4.0]

    system = control.nlsys(tank, None, inputs=1, outputs=1, states=1)
    steps = 30
    y = drive(from_control(system, dt=0.5, x0=[1.0]), np.full((steps, 1), 0.8))
    expected = control.input_output_response(system, 0.5 * np.arange(steps + 1), np.full(steps + 1, 0.8),
                                             X0=[1.0], solve_ivp_kwargs={"rtol": 1e-10, "atol": 1e-12}).outputs
    np.testing.assert_allclose(y[:, 0], expected, atol=1e-6)


def test_continuous_linear_and_nonlinear_forms_of_one_system_agree():
    # The same first-order lag sampled exactly (zero-order hold) and integrated numerically.
    system = control.ss([[-0.5]], [[1.0]], [[1.0]], [[0.0]])
    u = inputs(2, steps=20)
    linear = drive(from_control(system, dt=0.5), u)
    integrated = drive(from_control(control.nlsys(lambda t, x, v, p: -0.5 * x + v, None, inputs=1,
                                                  outputs=1, states=1), dt=0.5), u)
    np.testing.assert_allclose(integrated, linear, atol=1e-6)


class Heater:
    """A plant written for floats: a first-order lag with a rest temperature."""

    def __init__(self, gain=2.0):
        self.gain = gain

    def reset(self):
        self.y = 20.0
        return self.y

    def step(self, u):
        self.y = 0.9 * self.y + 0.1 * (20.0 + self.gain * u)
        return self.y


class TwoTanks:
    def reset(self):
        self.h = [0.0, 0.0]
        return list(self.h)

    def step(self, u):
        self.h = [0.7 * self.h[0] + u[0] + 0.2 * u[1], 0.6 * self.h[1] + u[1]]
        return list(self.h)


@pytest.mark.parametrize("factory, dim", [(functools.partial(Heater, gain=3.0), None), (TwoTanks, 2)])
def test_copies_of_a_float_plant_follow_the_plant_run_alone(factory, dim):
    u = inputs(3, dim=dim)
    y = drive(from_scalar(factory, delay=1), u)
    for i in range(3):
        alone = factory()
        expected = [alone.reset()]
        held = np.zeros(()) if dim is None else np.zeros(dim)
        for k in range(STEPS):
            expected.append(alone.step(held.tolist()))
            held = u[k, i]
        np.testing.assert_array_equal(y[:, i], np.array(expected))


def test_the_options_act_as_on_the_built_in_plants():
    u = inputs(4)
    nominal = drive(from_scipy(signal.dlti([0.5], [1.0, -0.8], dt=1.0)), u)
    loaded = drive(from_scipy(signal.dlti([0.5], [1.0, -0.8], dt=1.0), disturbance=(0.3, 10)), u)
    shifted = u.copy()
    shifted[10:] += 0.3
    np.testing.assert_array_equal(loaded, drive(from_scipy(signal.dlti([0.5], [1.0, -0.8], dt=1.0)), shifted))
    noisy = [drive(from_scipy(signal.dlti([0.5], [1.0, -0.8], dt=1.0), noise=0.1,
                              rng=np.random.default_rng(7)), u) for _ in range(2)]
    np.testing.assert_array_equal(noisy[0], noisy[1])
    assert 0.05 < np.std(noisy[0] - nominal) < 0.2
    spread = drive(from_scipy(signal.dlti([0.5], [1.0, -0.8], dt=1.0), spread=0.5,
                              rng=np.random.default_rng(3)), np.ones((200, 4)))
    gains = spread[-1] / 2.5  # the nominal steady state: 0.5 / (1 - 0.8)
    assert np.all((gains > 0.5) & (gains < 1.5)) and np.ptp(gains) > 0.05


@pytest.mark.parametrize("make, message", [
    (lambda: from_control(sopdt()), "give dt"),
    (lambda: from_control(control.ss(np.eye(2) * 0.5, np.ones((2, 1)), np.eye(2), np.zeros((2, 1)), 1.0)),
     "2 outputs"),
    (lambda: from_control(control.tf([1.0, 0.2], [1.0, -0.5], 1.0)), "dead time of at least one"),
    (lambda: from_control(sopdt(), dt=1.0, delay=-1), "delay"),
    (lambda: from_control(sopdt(), dt=0.0), "dt must be"),
    (lambda: from_control("tf"), "python-control"),
    (lambda: from_scipy(signal.lti([1.0], [1.0, 1.0])), "to_discrete"),
    (lambda: from_scalar(lambda: object()), "reset() -> y0"),
    (lambda: from_scalar(lambda: type("P", (), {"reset": lambda s: "hot", "step": lambda s, u: u})()),
     "must return a number"),
])
def test_a_system_that_cannot_be_a_plant_is_refused_with_a_clear_error(make, message):
    with pytest.raises((TypeError, ValueError), match=message.replace("(", r"\(").replace(")", r"\)")):
        make()


def test_a_bad_input_leaves_the_plant_as_it_was():
    plant = from_scalar(Heater)
    plant.reset(2)
    before = plant.step(np.array([1.0, 1.0]))
    with pytest.raises(ValueError, match="shape"):
        plant.step(np.ones(3))
    with pytest.raises(ValueError, match="complex"):
        plant.step(np.ones(2, dtype=complex))
    twin = from_scalar(Heater)
    twin.reset(2)
    twin.step(np.array([1.0, 1.0]))
    np.testing.assert_array_equal(plant.step(np.array([0.5, 0.5])), twin.step(np.array([0.5, 0.5])))
    assert before.shape == (2,)


def test_a_copy_that_returns_the_wrong_shape_is_named():
    class Odd(TwoTanks):
        def step(self, u):
            return [1.0, 2.0, 3.0]

    plant = from_scalar(Odd)
    plant.reset(1)
    with pytest.raises(ValueError, match=r"Odd plant's step\(u\)"):
        plant.step(np.zeros((1, 2)))


def test_adapted_plants_run_through_simulate_and_tune():
    plant = from_control(sopdt(), dt=1.0, delay=4)
    setpoint = np.repeat([1.0, 2.0], 60)
    run = vorn.simulate(vorn.CFDLController(), plant, setpoint)
    assert run.y.shape[0] == len(setpoint) and np.all(np.isfinite(run.y))
    fleet = vorn.simulate(vorn.CFDLFleet(3), from_scalar(Heater), setpoint + 20.0)
    assert fleet.y.shape[:2] == (len(setpoint), 3)
    tuned = vorn.tune("cfdl", plant, setpoint, max_generations=2, pid=False)
    assert tuned.cost <= tuned.default_cost


def test_a_reset_that_fails_leaves_the_copies_as_they_were():
    class Flaky(Heater):
        made = 0

        def reset(self):
            Flaky.made += 1
            if Flaky.made > 3:  # the probe and two copies, then no more
                raise RuntimeError("the rig is offline")
            return super().reset()

    plant = from_scalar(Flaky)
    plant.reset(2)
    with pytest.raises(RuntimeError, match="offline"):
        plant.reset(5)
    assert plant.n == 2 and plant.step(np.ones(2)).shape == (2,)
