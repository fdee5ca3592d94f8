"""The one closed loop: stopping and freezing diverged members, measurement noise, the start
hook; the tuner's face (banks) and simulate's run the same loop."""

import numpy as np
import pytest

from vorn.loop.engine import PlantError, Singles, closed_loop, run_loop
import vorn


class Runaway:
    """Copy i grows by a factor growth[i] each sample, plus its input."""

    def __init__(self, growth):
        self.growth = np.asarray(growth, dtype=float)

    def reset(self, n):
        self.y = np.ones(n)
        return self.y.copy()

    def step(self, u):
        self.y = self.growth * self.y + u
        return self.y.copy()


def _record(log):
    def act(y, k, u):
        log.append(y.copy())
        u[...] = 0.0
    return act


def _outputs(value, k, what):
    return np.asarray(value, dtype=float)


@pytest.mark.parametrize("freeze", [False, True])
def test_a_member_that_goes_is_flagged_where_it_went(freeze):
    yd = np.zeros(6)
    plant = Runaway([10.0, 1.0])
    log = []
    loop = run_loop(_record(log), plant, yd, (2,), _outputs, limit=1e3, freeze=freeze)
    # 1, 10, 100, 1000 are inside the band; 10000, after the fourth step, is not.
    assert loop.samples.tolist() == [4, 6] and loop.diverged.tolist() == [True, False]
    assert loop.stop == 6
    if freeze:
        # From the sample after it went, the frozen member is fed its set point and held at 0.
        assert [row[0] for row in log[4:]] == [0.0, 0.0]
        assert (loop.u[4:, 0] == 0.0).all()


def test_stop_ends_the_loop_when_every_member_went():
    loop = run_loop(_record([]), Runaway([10.0, 10.0]), np.zeros(8), (2,), _outputs, limit=1e3)
    assert loop.stop == 4 and loop.y.shape == (4, 2) and loop.diverged.all()


def test_noise_reaches_the_controllers_but_not_the_record():
    log = []
    noise = np.full((3, 2), 0.5)
    loop = run_loop(_record(log), Runaway([1.0, 1.0]), np.zeros(3), (2,), _outputs, limit=1e3,
                    freeze=True, noise=noise)
    assert (loop.y == 1.0).all() and all((row == 1.5).all() for row in log)


def test_begin_sees_the_initial_output_before_the_first_sample():
    seen = []
    run_loop(lambda y, k, u: seen.append(("act", k)), Runaway([1.0]), np.zeros(2), (1,), _outputs,
             limit=1e3, begin=lambda y: seen.append(("begin", y.tolist())))
    assert seen[:2] == [("begin", [1.0]), ("act", 0)]


def test_the_tuners_face_equals_simulate_for_one_fleet():
    yd = vorn.loop.simulate.schedule("nonlinear", 300)
    tuned = closed_loop([vorn.PFDLFleet(3)], vorn.plants.make("nonlinear", 300, rng=np.random.default_rng(0)),
                        np.broadcast_to(yd[:, None], (300, 3)))
    run = vorn.simulate(vorn.PFDLFleet(3), "nonlinear", 300)
    assert tuned.u.tobytes() == np.ascontiguousarray(run.u).tobytes()


def _banks():
    """A fleet, a vectorised PID and a row of single controllers: 7 members, two that diverge."""
    return [vorn.PFDLFleet(3, rho=[0.5, 0.5, 1.0], initial_phi=[0.5, 0.3, -0.5]),
            vorn.PID(kp=[0.2, 40.0], ki=0.1, kd=0.0, n=2), Singles([vorn.CFDLController(), vorn.FFDLController()])]


@pytest.mark.parametrize("noise", [None, 0.01])
def test_a_set_point_common_to_every_member_runs_as_one_given_per_member(noise):
    """The tuner's set point is broadcast along the members: its banks then get one value per
    sample, and every bank's run is the one it has with a column per member."""
    steps = 300
    yd = vorn.loop.simulate.schedule("nonlinear", steps)
    common = np.broadcast_to(yd[:, None], (steps, 7))
    hiss = None if noise is None else noise * np.random.default_rng(3).standard_normal((steps, 7))
    runs = [closed_loop(_banks(), vorn.plants.make("nonlinear", steps, rng=np.random.default_rng(0)), points, hiss)
            for points in (common, common.copy())]
    assert runs[0].diverged.tolist() == runs[1].diverged.tolist() == [False, False, True, False, True, False, False]
    assert runs[0].u.tobytes() == runs[1].u.tobytes() and runs[0].y.tobytes() == runs[1].y.tobytes()


def test_a_plant_breaking_the_protocol_is_a_plant_error_and_its_own_errors_name_the_sample():
    class Short(Runaway):
        def step(self, u):
            return super().step(u)[:1]

    with pytest.raises(PlantError, match="expected \\(2,\\)"):
        closed_loop([Singles([vorn.PFDLController(), vorn.PFDLController()])], Short([1.0, 1.0]), np.zeros((4, 2)))

    class Raises(Runaway):
        def step(self, u):
            raise RuntimeError("valve stuck")

    with pytest.raises(RuntimeError) as info:
        closed_loop([Singles([vorn.PFDLController()])], Raises([1.0]), np.zeros((4, 1)))
    assert info.value.__notes__ == ["raised by the plant's step at sample 0"]
