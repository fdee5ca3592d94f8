"""vorn.PID: its trajectory against simple-pid's PID configured the same way, its anti-windup
at the limits, the batch form against single loops, and its refusals."""

import numpy as np
import pytest

import vorn

simple_pid = pytest.importorskip("simple_pid")


def first_order(y, u):
    return 0.9 * y + 0.2 * u


def loop(update, steps=200, yd=lambda k: 1.0 if k < 100 else -0.5):
    y, us = 0.0, []
    for k in range(steps):
        u = update(y, yd(k))
        us.append(u)
        y = first_order(y, u)
    return us


@pytest.mark.parametrize("kp, ki, kd", [(1.0, 0.0, 0.0), (0.8, 0.3, 0.0), (0.5, 0.2, 0.4), (0.0, 0.05, 1.5)])
@pytest.mark.parametrize("limits", [(None, None), (-50.0, 50.0)])
def test_trajectory_equals_simple_pid_bit_for_bit(kp, ki, kd, limits):
    # Limits wide enough never to bind: there both anti-windup schemes leave the output alone.
    oracle = simple_pid.PID(kp, ki, kd, setpoint=0.0, sample_time=None, output_limits=limits)

    def reference(y, yd):
        oracle.setpoint = yd
        return oracle(y, dt=1.0)

    ours = vorn.PID(kp, ki, kd, u_min=limits[0], u_max=limits[1])
    assert loop(ours.update) == loop(reference)


def test_integral_stops_at_the_limit_and_leaves_it_at_once():
    pid = vorn.PID(0.0, 1.0, 0.0, u_min=-1.0, u_max=1.0)
    assert [pid.update(0.0, 5.0) for _ in range(4)] == [1.0, 1.0, 1.0, 1.0]
    assert pid.integral == 1.0  # not 20: no windup
    # The error changes sign: the output leaves the upper limit on the next sample.
    assert pid.update(0.0, -0.5) == 0.5
    assert pid.update(0.0, -5.0) == -1.0 and pid.integral == -1.0


def test_derivative_acts_on_the_measurement_only():
    pid = vorn.PID(0.0, 0.0, 2.0)
    assert pid.update(1.0, 0.0) == 0.0  # first sample: no previous measurement
    assert pid.update(1.0, 10.0) == 0.0  # a set-point step gives no kick
    assert pid.update(1.5, 10.0) == -1.0
    pid.reset()
    assert pid.update(3.0, 0.0) == 0.0


def test_a_batch_equals_its_loops_run_one_by_one():
    kp, ki, kd = np.array([0.5, 0.8, 0.2]), 0.3, np.array([0.0, 0.1, 0.4])
    batch = vorn.PID(kp, ki, kd, u_min=-0.7, u_max=0.9, n=3)
    singles = [vorn.PID(float(kp[i]), ki, float(kd[i]), u_min=-0.7, u_max=0.9) for i in range(3)]
    y = np.zeros(3)
    out = np.empty(3)
    for k in range(150):
        yd = np.array([1.0, -2.0, 0.5]) * (1 if k < 70 else -1)
        u = batch.update(y, yd, out=out)
        assert u is out
        assert u.tolist() == [s.update(float(y[i]), float(yd[i])) for i, s in enumerate(singles)]
        y = first_order(y, u)
    assert len(batch) == 3


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(kp=float("nan")), "kp must be finite"),
        (dict(kp=1.0, ki=[1.0, 2.0]), "ki must be a number or 1 numbers"),
        (dict(kp=1.0, u_min=1.0, u_max=0.0), "u_min must not exceed u_max"),
        (dict(kp=1.0, n=0), "n must be an integer of at least 1"),
        (dict(kp=1.0, n=2.0), "n must be an integer of at least 1"),
        (dict(kp=1.0, u_max=float("nan")), "u_max must not be NaN"),
    ],
)
def test_bad_parameters_are_refused(kwargs, message):
    with pytest.raises(ValueError, match=message):
        vorn.PID(**kwargs)


def test_a_batch_refuses_the_wrong_shape_and_keeps_its_state():
    pid = vorn.PID(1.0, 0.5, n=2)
    pid.update(np.zeros(2), 1.0)
    before = (pid.integral.copy(), pid.y_prev.copy())
    with pytest.raises(ValueError, match=r"y must have shape \(2,\)"):
        pid.update(np.zeros(3), 1.0)
    assert np.array_equal(pid.integral, before[0]) and np.array_equal(pid.y_prev, before[1])


def state(pid):
    return (np.array(pid.integral, copy=True), None if pid.y_prev is None else np.array(pid.y_prev, copy=True))


@pytest.mark.parametrize("call, error, message", [
    (dict(out=np.empty(3, dtype=np.int64)), TypeError, "out must be a float64 array"),
    (dict(out=np.empty(3, dtype=np.float32)), TypeError, "out must be a float64 array"),
    (dict(out=[0.0, 0.0, 0.0]), TypeError, "not list"),
    (dict(out=np.empty((1, 3))), ValueError, r"out must have shape \(3,\)"),
    (dict(out=np.empty((3, 3))), ValueError, r"out must have shape \(3,\)"),
    (dict(out=np.empty(2)), ValueError, r"out must have shape \(3,\)"),
    (dict(out=np.broadcast_to(np.empty(1), (3,))), ValueError, "writeable"),
    (dict(y=np.zeros(4)), ValueError, r"y must have shape \(3,\)"),
    (dict(y=np.zeros(3), yd=np.zeros(2)), ValueError, r"yd \(\) or \(3,\)"),
])
def test_a_refused_call_leaves_the_state_exactly_as_it_was(call, error, message):
    pid = vorn.PID(1.0, 0.5, 0.2, u_min=-1.0, u_max=1.0, n=3)
    pid.update(np.array([0.1, 0.2, 0.3]), 1.0)
    before = state(pid)
    with pytest.raises(error, match=message):
        pid.update(call.get("y", np.zeros(3)), call.get("yd", 1.0), out=call.get("out"))
    after = state(pid)
    assert np.array_equal(after[0], before[0]) and np.array_equal(after[1], before[1])
    # The next good call gives what it would have without the refused one.
    twin = vorn.PID(1.0, 0.5, 0.2, u_min=-1.0, u_max=1.0, n=3)
    twin.update(np.array([0.1, 0.2, 0.3]), 1.0)
    assert pid.update(np.zeros(3), 1.0).tolist() == twin.update(np.zeros(3), 1.0).tolist()
