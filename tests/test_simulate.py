"""vorn.simulate and Run: metrics against hand-computed values, batches against their members
run one by one, seeded runs, user plants, divergence, and every refusal."""

import csv
import importlib.util
import re
from pathlib import Path

import numpy as np
import pytest

import vorn
from vorn import demo, plants
from vorn.loop import metrics
from vorn.loop.run import Run


class ListFleet:
    """A batch of single controllers behind the fleet interface (len, update on arrays)."""

    def __init__(self, controllers):
        self.controllers = controllers

    def __len__(self):
        return len(self.controllers)

    def update(self, y, yd):
        yd = np.broadcast_to(yd, y.shape)
        out = [c.update(float(a), float(b)) for c, a, b in zip(self.controllers, y, yd)]
        return np.array([u[0] if isinstance(u, tuple) else u for u in out])


class Heater:
    """A user plant: first order with a saturating actuator."""

    def reset(self, n):
        self.t = np.zeros(n)
        return self.t.copy()

    def step(self, u):
        self.t = 0.9 * self.t + 0.1 * np.tanh(u)
        return self.t.copy()


def record(yd, y, u, diverged=False):
    col = lambda a: np.asarray(a, dtype=float)[:, None]  # noqa: E731
    return Run("C", "p", col(yd), col(y), col(u), np.array([len(y)]), np.array([diverged]))


def test_metrics_against_hand_computed_values():
    # From rest to 1, then down to 0: e = 1, -0.2, 0.1, 0, 0, -0.5, 0.
    m = record([1, 1, 1, 1, 0, 0, 0], [0, 1.2, 0.9, 1, 0, 0.5, 0], [0, 2, 1, 1, 0, -1, 0]).metrics
    assert m.iae[0] == pytest.approx(1 + 0.2 + 0.1 + 0.5)
    assert m.ise[0] == pytest.approx(1 + 0.04 + 0.01 + 0.25)
    assert m.itae[0] == pytest.approx(0.2 + 0.2 + 5 * 0.5)
    assert m.overshoot[0] == pytest.approx(20.0)  # 1.2 past a step of 1; the way down stays above 0
    assert m.settling[0] == 6  # inside the 5 % band from the last sample on
    assert m.final_error[0] == 0.0
    assert m.effort[0] == 4 + 1 + 1 + 1 + 0
    assert m.variation[0] == 2 + 1 + 0 + 1 + 1 + 1
    assert m.tracks.tolist() == [True] and m.diverged.tolist() == [False]


@pytest.mark.parametrize(
    "yd, y, overshoot, settling",
    [
        ([1.0] * 5, [0.0, 0.5, 0.9, 0.97, 1.0], 0.0, 3),
        ([2.0] * 4, [0.0, 3.0, 2.5, 1.0], 50.0, -1),  # never ends in the band
        ([-1.0] * 3, [0.0, -1.5, -1.0], 50.0, 2),  # a downward step overshoots below the level
    ],
)
def test_overshoot_and_settling(yd, y, overshoot, settling):
    m = record(yd, y, [0.0] * len(y)).metrics
    assert m.overshoot[0] == pytest.approx(overshoot) and m.settling[0] == settling


def test_tracking_measures_of_the_table():
    m = demo.measure(demo.Run.from_channels("C", "p", [[1.0] * 3 + [0.0] * 3], [[0.0, 1.0, 1.0, 1.0, -0.5, 0.0]], [[0.0] * 6]))
    assert m.overshoot == pytest.approx(50.0) and m.rmse == pytest.approx((1.25 / 5) ** 0.5)


@pytest.mark.parametrize("plant", ["nonlinear", "time-varying", "dead-time", "tank", "rational"])
def test_a_batch_equals_its_members_run_one_by_one(plant):
    forms = [demo.make_controller(f, plant) for f in ("cfdl", "pfdl", "ffdl", "pid")]
    fleet = ListFleet([demo.make_controller(f, plant) for f in ("cfdl", "pfdl", "ffdl", "pid")])
    batch = vorn.simulate(fleet, plant, 300)
    assert batch.y.shape == batch.u.shape == batch.yd.shape == (300, 4)
    for i, controller in enumerate(forms):
        one = vorn.simulate(controller, plant, 300)
        assert one.y.shape == (300, 1)
        assert batch.y[:, i].tolist() == one.y[:, 0].tolist()
        assert batch.u[:, i].tolist() == one.u[:, 0].tolist()
    assert batch.metrics.iae.shape == (4,)


def test_a_pid_batch_equals_its_loops():
    gains = [(0.5, 0.4, 0.1), (0.3, 0.2, 0.0), (0.8, 0.1, 0.3)]
    batch = vorn.simulate(vorn.PID(*np.array(gains).T, n=3), "time-varying", 240)
    for i, g in enumerate(gains):
        assert batch.u[:, i].tolist() == vorn.simulate(vorn.PID(*g), "time-varying", 240).u[:, 0].tolist()


@pytest.mark.parametrize("cls", [plants.NonlinearPlant, plants.TimeVaryingPlant, plants.DeadTimePlant,
                                 plants.TankPlant, plants.RationalPlant])
def test_plants_take_floats_and_arrays_alike(cls):
    inputs = np.random.default_rng(1).uniform(-0.5, 0.8, (40, 3))
    vector = cls()
    assert vector.reset(3).tolist() == [0.0] * 3
    ys = np.array([vector.step(u) for u in inputs])
    for j in range(3):
        scalar = cls()
        assert isinstance(scalar.step(float(inputs[0, j])), float)
        scalar.reset()
        assert [scalar.step(float(u)) for u in inputs[:, j]] == ys[:, j].tolist()


def test_the_coupled_plant_takes_lists_and_arrays_alike():
    inputs = np.random.default_rng(2).uniform(-1, 1, (30, 2))
    scalar, vector = plants.CoupledPlant(), plants.CoupledPlant()
    vector.reset(1)
    for u in inputs:
        assert np.array_equal(np.array([scalar.step(u.tolist())]), vector.step(u[None]))


def test_seeded_runs_repeat_exactly_and_seeds_differ():
    def run(seed):
        fleet = vorn.PID(1.2, 0.4, 0.0, u_min=0.0, n=5)
        return vorn.simulate(fleet, "tank", 300, noise=0.01, disturbance=(0.2, 150), spread=0.2, seed=seed)

    a, b, c = run(3), run(3), run(4)
    assert np.array_equal(a.y, b.y) and np.array_equal(a.u, b.u)
    assert not np.array_equal(a.y, c.y)
    assert len({tuple(a.y[-1])}) == 1 and len(set(a.y[-1])) == 5  # the copies differ


def test_the_disturbance_is_a_step_on_the_plant_input():
    plain, pushed = plants.DeadTimePlant(), plants.DeadTimePlant(disturbance=(0.5, 3))
    for k in range(12):
        assert pushed.step(0.1) == plain.step(0.1 + (0.5 if k >= 3 else 0.0))


@pytest.mark.parametrize("controller", [vorn.PFDLController(rho=0.6, lambda_=0.5), vorn.PID(2.0, 0.5)])
def test_a_user_plant_closes_the_loop(controller):
    run = vorn.simulate(controller, Heater(), np.repeat([0.3, 0.6], 150))
    assert run.plant == "Heater" and run.y.shape == (300, 1)
    assert run.metrics.tracks.tolist() == [True] and abs(run.metrics.final_error[0]) < 0.01


def test_a_user_plant_with_noise_wraps_it_and_a_fleet_runs_on_it():
    fleet = ListFleet([vorn.PFDLController(rho=0.6, lambda_=0.5) for _ in range(3)])
    run = vorn.simulate(fleet, Heater(), np.repeat([0.3, 0.6], 150), noise=0.001, seed=1, disturbance=(0.1, 200))
    assert run.y.shape == (300, 3) and not run.diverged.any()
    assert len(set(run.y[10])) == 3  # noise drawn per copy


class Coupled2:
    def reset(self, n):
        self.y = np.zeros((n, 2))
        return self.y.copy()

    def step(self, u):
        self.y = 0.5 * self.y + 0.5 * u
        return self.y.copy()


def test_a_user_mimo_plant():
    run = vorn.simulate(vorn.MimoPfdlController(2, rho=0.5, lambda_=0.5, initial_phi=0.5), Coupled2(),
                        np.ones((200, 2)) * [1.0, -1.0])
    assert run.y.shape == (200, 1, 2) and run.metrics.iae.shape == (1, 2)
    assert np.abs(run.y[-1, 0] - [1.0, -1.0]).max() < 1e-3


def test_a_diverging_run_stops_is_flagged_and_keeps_what_it_computed():
    wild = vorn.CFDLController(rho=1.0, lambda_=0.001, initial_phi=0.02, eta=0.01)
    run = vorn.simulate(wild, "nonlinear", 600)
    assert run.steps == 2 and run.diverged.tolist() == [True] and run.samples.tolist() == [2]
    assert run.metrics.tracks.tolist() == [False] and np.isfinite(run.y).all()


def test_in_a_batch_a_diverging_member_is_flagged_and_the_others_go_on():
    fleet = ListFleet([vorn.CFDLController(rho=1.0, lambda_=0.001, initial_phi=0.02, eta=0.01),
                       demo.make_controller("pfdl", "nonlinear")])
    run = vorn.simulate(fleet, "nonlinear", 600)
    assert run.steps == 600 and run.diverged.tolist() == [True, False] and run.samples.tolist() == [2, 600]
    assert run.metrics.tracks.tolist() == [False, True]
    assert run.measures(0).steps == 2


class Bad:
    def __init__(self, out=None, fail_at=None):
        self.out, self.fail_at, self.k = out, fail_at, 0

    def reset(self, n):
        return np.zeros(n)

    def step(self, u):
        self.k += 1
        if self.k == self.fail_at:
            raise RuntimeError("sensor offline")
        return self.out(u) if self.out else u * 0.5


@pytest.mark.parametrize(
    "plant, setpoint, error, message",
    [
        (Bad(out=lambda u: np.zeros(2)), np.ones(10), ValueError, r"the plant returned shape \(2,\) at sample 0; expected \(1,\)"),
        (Bad(out=lambda u: "x"), np.ones(10), TypeError, "the plant returned str at sample 0"),
        (Bad(out=lambda u: u * np.nan), np.ones(10), ValueError, "the plant returned NaN at sample 0 for a finite input"),
        (Bad(), np.ones((10, 3)), ValueError, "the set point has 3 columns; expected the 1 members"),
        (Bad(), np.ones(0), ValueError, "one entry per step"),
        (Bad(), 1.0, ValueError, "one entry per step"),
        (Bad(), np.array([1.0, np.inf]), ValueError, "the set point must be finite"),
        (Bad(), 100, TypeError, "needs a built-in plant"),
        ("nowhere", 100, ValueError, "unknown plant 'nowhere'"),
        ("tank", 0, ValueError, "the number of steps must be at least 1"),
    ],
)
def test_refusals(plant, setpoint, error, message):
    with pytest.raises(error, match=message):
        vorn.simulate(vorn.PFDLController(), plant, setpoint)


def test_an_exception_in_the_plant_carries_the_sample():
    with pytest.raises(RuntimeError, match="sensor offline") as info:
        vorn.simulate(vorn.PFDLController(), Bad(fail_at=5), np.ones(10))
    assert info.value.__notes__ == ["while simulating sample 4 of PFDLController on the Bad plant"]


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(noise=-1.0), "noise must be a finite standard deviation"),
        (dict(disturbance=(0.1, -2)), "sample must be an integer of at least 0"),
        (dict(disturbance=0.3), "disturbance must be a pair"),
        (dict(spread=1.5), "spread must be at least 0 and below 1"),
        (dict(limit=float("nan")), "limit must be a positive number"),
    ],
)
def test_bad_plant_options(kwargs, message):
    with pytest.raises((ValueError, TypeError), match=message):
        vorn.simulate(vorn.PFDLController(), "tank", 10, **kwargs)


def test_spread_needs_a_built_in_plant():
    with pytest.raises(ValueError, match="give the plant by name"):
        vorn.simulate(vorn.PFDLController(), Heater(), np.ones(5), spread=0.1)


def test_table_and_csv(tmp_path):
    run = vorn.simulate(vorn.PID(0.5, 0.2, n=2), "dead-time", 130)
    lines = run.table().splitlines()
    assert lines[0].split()[:3] == ["controller", "plant", "steps"] and len(lines) == 3
    assert lines[1].split()[:3] == ["PID", "dead-time", "130"]
    path = tmp_path / "run.csv"
    run.to_csv(path)
    with open(path, newline="", encoding="utf-8") as stream:
        rows = list(csv.DictReader(stream))
    assert len(rows) == 2 * 130 and rows[131]["member"] == "1"
    assert [float(r["y"]) for r in rows[130:]] == run.y[:, 1].tolist()


def test_to_frame():
    pytest.importorskip("pandas")
    frame = vorn.simulate(vorn.PFDLController(), "nonlinear", 50).to_frame()
    assert list(frame.columns) == ["controller", "plant", "channel", "k", "yd", "y", "u"] and len(frame) == 50


@pytest.mark.skipif(importlib.util.find_spec("matplotlib") is None, reason="matplotlib is not installed")
def test_plot_saves_a_png_or_returns_a_figure(tmp_path):
    runs = [vorn.simulate(c, "tank", 200) for c in (demo.make_controller("ffdl", "tank"), demo.make_controller("pid", "tank"))]
    vorn.plot_runs(runs, tmp_path / "both.png")
    assert (tmp_path / "both.png").read_bytes()[:4] == b"\x89PNG"
    figure = runs[0].plot()
    assert len(figure.axes) == 2


def test_metrics_of_an_empty_member():
    m = metrics.compute(np.zeros((3, 2)), np.zeros((3, 2)), np.zeros((3, 2)), np.array([0, 3]), np.array([True, False]))
    assert m.settling.tolist() == [-1, 0] and m.tracks.tolist() == [False, True]


def test_the_readme_example_prints_what_it_claims(tmp_path, monkeypatch, capsys):
    text = (Path(__file__).resolve().parents[1] / "README.md").read_text(encoding="utf-8")
    section = text.split("## Your own plant", 1)[1]
    code, claimed = re.findall(r"```(?:python)?\n(.*?)```", section, re.S)[:2]
    if importlib.util.find_spec("matplotlib") is None:
        code = code.replace('vorn.plot_runs([pfdl, pid], "heater.png")', "pass")
    assert len([line for line in code.splitlines() if line.strip()]) < 15
    monkeypatch.chdir(tmp_path)
    exec(compile(code, "README.md", "exec"), {})
    assert capsys.readouterr().out == claimed


@pytest.mark.skipif(not hasattr(vorn, "PFDLFleet"), reason="controller fleets are not built")
@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
@pytest.mark.parametrize("plant", ["nonlinear", "dead-time", "tank"])
def test_a_fleet_run_equals_its_members_run_one_by_one(form, plant):
    fleet_class = {"cfdl": vorn.CFDLFleet, "pfdl": vorn.PFDLFleet, "ffdl": vorn.FFDLFleet}[form]
    # Members of one fleet share their orders; they differ in their factors and limits.
    params = [{**demo.TUNINGS[(form, plant)], "rho": rho, "lambda_": lam, "u_max": 1.5}
              for rho, lam in ((0.2, 0.1), (0.5, 0.01), (1.0, 1.0), (0.7, 0.001))]
    fleet = fleet_class.from_controllers([demo.SISO_CLASSES[form](**kw) for kw in params])
    batch = vorn.simulate(fleet, plant, 360)
    for i, kw in enumerate(params):
        one = vorn.simulate(demo.SISO_CLASSES[form](**kw), plant, 360)
        seen = int(one.samples[0])
        assert batch.samples[i] == seen and batch.diverged[i] == one.diverged[0]
        assert batch.y[:seen, i].tolist() == one.y[:, 0].tolist()
        assert batch.u[:seen, i].tolist() == one.u[:, 0].tolist()


class ScalesItsInput(Heater):
    """A plant that scales the array it is handed in place (a unit conversion, say)."""

    def step(self, u):
        u *= 1000.0
        return super().step(u / 1000.0)


class ScalesItsMeasurement(ListFleet):
    def update(self, y, yd):
        out = super().update(y, yd)
        y *= 0.0
        return out


@pytest.mark.parametrize("controller", [
    lambda: vorn.PID(1.0, 0.3, n=2),
    lambda: ScalesItsMeasurement([vorn.PID(1.0, 0.3), vorn.PID(1.0, 0.3)]),
])
def test_the_run_records_what_was_applied_and_measured_whatever_a_callee_does_in_place(controller):
    setpoint = np.ones(50)
    reference = vorn.simulate(vorn.PID(1.0, 0.3, n=2), Heater(), setpoint)
    run = vorn.simulate(controller(), ScalesItsInput(), setpoint)
    assert np.array_equal(run.u, reference.u) and np.array_equal(run.y, reference.y)
    assert np.array_equal(run.metrics.effort, reference.metrics.effort)
    assert np.array_equal(run.metrics.variation, reference.metrics.variation)


class _OwnMimo:
    """A user's MIMO controller: anything with update(y, yd) on vectors."""

    def __init__(self, inner, width=None):
        self.inner, self.width = inner, width

    def update(self, y, yd):
        u = list(self.inner.update(np.asarray(y), np.asarray(yd)))
        return u if self.width is None else u[:self.width]


def test_a_users_own_mimo_controller_runs_as_the_class_does():
    own = vorn.simulate(_OwnMimo(vorn.MimoPfdlController(2)), "coupled", 300, seed=2, noise=0.01)
    cls = vorn.simulate(vorn.MimoPfdlController(2), "coupled", 300, seed=2, noise=0.01)
    assert own.u.tobytes() == cls.u.tobytes() and own.y.tobytes() == cls.y.tobytes()


def test_a_users_mimo_controller_of_the_wrong_width_is_refused():
    with pytest.raises(ValueError, match=r"returned shape \(1,\) at sample 0; expected \(2,\)"):
        vorn.simulate(_OwnMimo(vorn.MimoPfdlController(2), width=1), "coupled", 10)
