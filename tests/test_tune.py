"""vorn.tune: seeded searches that repeat exactly, costs that agree with simulate, executors
that split a generation without changing a cost, penalties, Ctrl-C, and every refusal."""

import importlib
import importlib.util
import io
import re
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np
import pytest

import vorn
from vorn.loop import metrics as costs
from vorn.tuning import evaluate, weights
from vorn.tuning.identify import SETTLE, WINDOW
from vorn.tuning.space import build_space

STEPS = 240
BUMP = SETTLE + WINDOW
# A short search that ends on its generation limit, never on the clock.
SMALL = dict(max_generations=3, pid=False)


class Lag:
    """A user plant: first order, y(k+1) = 0.7·y(k) + gain·u(k)."""

    def __init__(self, gain=0.3):
        self.gain = gain

    def reset(self, n):
        self.y = np.zeros(n)
        return self.y.copy()

    def step(self, u):
        self.y = 0.7 * self.y + self.gain * u
        return self.y.copy()


class Raising(Lag):
    """Raises once an input exceeds `limit` in magnitude (every input when limit < 0)."""

    def __init__(self, limit):
        super().__init__()
        self.limit = limit
        self.raised = 0

    def step(self, u):
        if self.limit < 0 or np.any(np.abs(u) > self.limit):
            self.raised += 1
            raise RuntimeError("actuator fault")
        return super().step(u)


class Interrupting(Lag):
    """Raises KeyboardInterrupt at its `after`-th step call, as a Ctrl-C would."""

    def __init__(self, after):
        super().__init__()
        self.calls = 0
        self.after = after

    def step(self, u):
        self.calls += 1
        if self.calls == self.after:
            raise KeyboardInterrupt
        return super().step(u)


def square(steps=STEPS, levels=(1.0, 2.0), hold=60):
    return np.asarray(levels)[(np.arange(steps) // hold) % len(levels)]


def summary(t):
    return (t.params, t.cost, t.history, t.default_cost, t.evaluations)


@pytest.mark.parametrize("form", ["cfdl", "pfdl", "ffdl"])
def test_a_seeded_search_repeats_exactly_and_leaves_numpy_alone(form):
    state = np.random.get_state()
    first = vorn.tune(form, "dead-time", STEPS, seed=3, **SMALL)
    again = vorn.tune(form, "dead-time", STEPS, seed=3, **SMALL)
    assert summary(first) == summary(again)
    assert first.generations == 3 and len(first.history) == 3
    assert first.history == sorted(first.history, reverse=True)
    after = np.random.get_state()
    assert after[0] == state[0] and np.array_equal(after[1], state[1]) and after[2:] == state[2:]
    other = vorn.tune(form, "dead-time", STEPS, seed=4, **SMALL)
    assert other.params != first.params


def test_the_winner_beats_the_defaults_and_its_cost_is_the_runs_iae():
    t = vorn.tune("pfdl", Lag(), square(), max_generations=6, seed=1, pid=True)
    assert t.cost < t.default_cost
    run = t.run()
    assert t.cost == pytest.approx(float(run.metrics.iae[0]), rel=1e-12)
    assert not run.diverged[0]
    assert t.pid is not None and np.isfinite(t.pid.cost)
    pid_run = t.run(t.pid.controller())
    assert t.pid.cost == pytest.approx(float(pid_run.metrics.iae[0]), rel=1e-12)
    assert type(t.controller()) is vorn.PFDLController


@pytest.mark.parametrize("objective", ["iae", "ise", "itae"])
def test_a_tuned_cost_is_its_runs_measure_to_the_last_bit(objective):
    t = vorn.tune("pfdl", "dead-time", STEPS, objective=objective, max_generations=2, seed=0, pid=False)
    assert t.cost == float(getattr(t.run().metrics, objective)[0])


@pytest.mark.parametrize("objective", ["ise", "itae", ("iae", "worst")])
def test_objectives_and_scenarios(objective):
    t = vorn.tune("cfdl", "dead-time", STEPS, objective=objective, scenarios=3, noise=0.01, seed=2, **SMALL)
    assert t.objective == ((objective, "mean") if isinstance(objective, str) else objective)
    assert np.isfinite(t.cost) and t.cost < costs.DIVERGED_COST


def test_a_negative_plant_is_tuned_from_a_warm_start_with_its_sign():
    plant = Lag(gain=-0.3)
    rng = np.random.default_rng(0)
    u = rng.standard_normal(300)
    y = np.zeros(300)
    for k in range(299):
        y[k + 1] = 0.7 * y[k] - 0.3 * u[k]
    phi = vorn.initial_phi_from_data(u, y, form="pfdl", l_u=2)
    assert phi[0] < 0
    t = vorn.tune("pfdl", plant, square(), start=phi, l_u=2, seed=0, **SMALL)
    assert t.params["initial_phi"] < 0 and t.params["l_u"] == 2
    assert t.cost < costs.DIVERGED_COST


def test_an_executor_splits_generations_without_changing_any_cost():
    alone = vorn.tune("pfdl", "nonlinear", STEPS, seed=5, scenarios=2, noise=0.01, **SMALL)
    with ThreadPoolExecutor(2) as pool:
        split = vorn.tune("pfdl", "nonlinear", STEPS, seed=5, scenarios=2, noise=0.01, executor=pool, **SMALL)
    assert summary(split) == summary(alone)


@pytest.mark.skipif(importlib.util.find_spec("distributed") is None, reason="dask.distributed not installed")
def test_a_dask_cluster_runs_the_generations():
    from distributed import Client, LocalCluster

    alone = vorn.tune("cfdl", "dead-time", STEPS, seed=6, **SMALL)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=False, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            spread = vorn.tune("cfdl", "dead-time", STEPS, seed=6, executor=client.get_executor(), **SMALL)
    assert summary(spread) == summary(alone)


def test_a_plant_that_raises_for_some_inputs_only_penalises_those_candidates():
    plant = Raising(limit=2.5)
    t = vorn.tune("pfdl", plant, square(), seed=0, **SMALL)
    assert plant.raised > 0
    assert t.cost < costs.DIVERGED_COST
    assert np.abs(t.run().u).max() <= 2.5


class SlowClock:
    """A clock on which every reading is a minute after the last: a very slow machine."""

    def __init__(self):
        self.now = 0.0

    def monotonic(self):
        self.now += 60.0
        return self.now


@pytest.mark.parametrize("limit", [dict(max_generations=4), dict(max_evaluations=64)])
def test_a_counted_search_without_a_budget_ignores_the_clock(monkeypatch, limit):
    search, tune = (importlib.import_module(f"vorn.tuning.{name}") for name in ("search", "tune"))
    quick = vorn.tune("cfdl", "dead-time", STEPS, seed=5, **limit)
    for module in (search, tune):
        monkeypatch.setattr(module, "time", SlowClock())
    slow = vorn.tune("cfdl", "dead-time", STEPS, seed=5, **limit)
    assert summary(slow) == summary(quick) and slow.generations == 4
    assert slow.pid is not None and slow.pid.cost == quick.pid.cost
    timed = vorn.tune("cfdl", "dead-time", STEPS, seed=5, budget=600.0, **limit)
    assert timed.generations < 4  # a budget given is kept


def test_progress_lines_name_the_time_left_only_when_there_is_a_budget():
    from vorn.tuning.progress import ProgressReport
    from vorn.tuning.search import Progress

    for budget, tail in ((30.0, ", 18 s left"), (np.inf, "")):
        stream = io.StringIO()
        report = ProgressReport(stream, bar=False)
        report(Progress("cfdl", 3, 48, 1.5, 12.0, budget))
        report.close()
        assert stream.getvalue().splitlines()[-1] == f"cfdl: generation 3, 48 candidates, best 1.5{tail}"


def test_ctrl_c_returns_the_best_so_far_when_asked_and_raises_otherwise():
    with pytest.raises(KeyboardInterrupt):
        vorn.tune("cfdl", Interrupting(after=3 * STEPS), square(), seed=0, **SMALL)
    # The bump test before the search takes SETTLE + WINDOW steps of its own.
    t = vorn.tune("cfdl", Interrupting(after=BUMP + 2 * STEPS + 5), square(), seed=0, on_interrupt="return",
                  max_generations=10)
    assert t.interrupted and t.generations == 2 and t.pid is None


@pytest.mark.parametrize("call, message", [
    (dict(form="pid"), "unknown form"),
    (dict(objective="mse"), "unknown objective"),
    (dict(objective=("iae", "median")), "unknown aggregate"),
    (dict(budget=0), "budget must be a positive"),
    (dict(budget=-1.0), "budget must be a positive"),
    (dict(budget=float("nan")), "budget must be a positive"),
    (dict(scenarios=0), "scenarios must be"),
    (dict(bounds={"rho": (0.5, 0.1)}), "inverted"),
    (dict(bounds={"eta": (3.0, 4.0)}), "eta must meet"),
    (dict(bounds={"lambda_": (-2.0, -1.0)}), "lambda_ must include positive"),
    (dict(bounds={"gain": (1.0, 2.0)}), "cannot search gain"),
    (dict(bounds={"l_u": (3, 1)}), "bounds of l_u"),
    (dict(l_y=1), "pfdl takes l_y = 0"),
    (dict(u_min=2.0, u_max=1.0), "u_min"),
    (dict(plant="coupled", u_min=0.0), "MIMO controllers have no input limits"),
    (dict(plant="no-such-plant"), "unknown plant"),
    (dict(setpoint=[1.0, np.nan, 1.0]), "finite"),
    (dict(noise=-0.1), "noise"),
    (dict(max_evaluations=15), "max_evaluations .one generation is 16 candidates."),
    (dict(u_min=float("nan")), "u_min must be a number or None, not NaN"),
    (dict(u_max=float("nan"), pid=True), "u_max must be a number or None, not NaN"),
    (dict(bounds={"mu": float("nan")}), "a fixed mu must be a finite number"),
    (dict(bounds={"eta": 5.0}), "PFDLController refuses the tuner's parameters .*eta"),
    (dict(l_u=10**11), "PFDLController refuses the tuner's parameters .*l_u=100000000000"),
    (dict(bounds={"l_u": (1, 10**11)}), "PFDLController refuses the tuner's parameters"),
])
def test_bad_input_is_refused_with_a_clear_error(call, message):
    kwargs = dict(form="pfdl", plant="dead-time", setpoint=STEPS, **SMALL)
    kwargs.update(call)
    with pytest.raises(ValueError, match=message):
        vorn.tune(kwargs.pop("form"), kwargs.pop("plant"), kwargs.pop("setpoint"), **kwargs)


class WrongShape(Lag):
    def step(self, u):
        return np.zeros(len(u) + 1)


class NotANumber(Lag):
    def step(self, u):
        return np.full(len(u), np.nan)


@pytest.mark.parametrize("plant, message", [
    (Raising(limit=-1.0), "raised on every candidate"),
    (WrongShape(), r"shape \(\d+,\)"),
    (NotANumber(), "every candidate of the first generation diverged"),
])
def test_a_broken_plant_stops_the_tuning_with_a_clear_error(plant, message):
    with pytest.raises(ValueError, match=message):
        vorn.tune("cfdl", plant, square(), seed=0, **SMALL)


def test_a_plant_without_the_protocol_is_refused():
    with pytest.raises(TypeError, match="reset"):
        vorn.tune("cfdl", object(), square(), **SMALL)


def test_the_search_space_keeps_every_candidate_valid():
    space = build_space("ffdl", {"initial_phi": (-5.0, -0.05), "mu": 0.5}, u_min=-1.0)
    names = [d.name for d in space.dimensions]
    # The full form searches a step factor per estimate component in place of rho.
    assert names == ["eta", "lambda_", "initial_phi", "l_y", "l_u", *[f"rho_y{i}" for i in range(4)],
                     *[f"rho_u{j}" for j in range(4)]]
    assert space.fixed == {"mu": 0.5, "u_min": -1.0}
    for corner in (np.zeros(space.size), np.ones(space.size), np.full(space.size, 0.5)):
        params = space.decode(corner)
        weights.single("ffdl", params)  # validation and the form's rule pass
        assert params["initial_phi"] < 0
        assert len(params["rho_vector"]) == params["l_y"] + params["l_u"]
    log_dim = space.dimensions[names.index("lambda_")]
    assert log_dim.log and log_dim.decode(0.5) == pytest.approx(np.sqrt(1e-4 * 1e4))
    point = space.decode(np.full(space.size, 0.3))
    back = space.decode(space.encode(point))
    assert back.pop("rho_vector") == pytest.approx(point.pop("rho_vector"), rel=1e-12)
    assert back == pytest.approx(point, rel=1e-12)


def test_penalties_rank_a_chattering_or_diverged_loop_behind_a_smooth_one():
    steps = 100
    yd = np.ones((steps, 3))
    y = np.ones((steps, 3))
    y[:5] = 0.0
    u = np.ones((steps, 3))
    u[:, 1] += 0.5 * (-1.0) ** np.arange(steps)  # chatters around the same level
    diverged_at = np.array([steps, steps, 40])
    c = costs.member_costs("iae", yd, y, u, diverged_at)
    assert c[0] == pytest.approx(5.0)
    assert c[1] > 2 * c[0]
    assert c[2] >= costs.DIVERGED_COST
    itae = costs.member_costs("itae", yd, y, u, np.full(3, steps))
    assert itae[0] == pytest.approx(0 + 1 + 2 + 3 + 4)


def test_the_readme_example_prints_what_it_claims(tmp_path, monkeypatch, capsys):
    text = (Path(__file__).resolve().parents[1] / "README.md").read_text(encoding="utf-8")
    section = text.split("## Tuning a loop", 1)[1]
    code, claimed = re.findall(r"```(?:python)?\n(.*?)```", section, re.S)[:2]
    monkeypatch.chdir(tmp_path)
    exec(compile(code, "README.md", "exec"), {})
    assert capsys.readouterr().out == claimed
    assert vorn.load_config_from_yaml(True, str(tmp_path / "heater.yaml"))[6] == 5


@pytest.mark.skipif(not hasattr(vorn, "FFDLFleet"), reason="controller fleets are not built")
@pytest.mark.parametrize("form", ["cfdl", "ffdl"])
def test_fleets_cost_every_candidate_as_single_controllers_do(monkeypatch, form):
    kwargs = dict(seed=7, scenarios=2, noise=0.02, u_min=-1.5, u_max=1.5, **SMALL)
    batched = vorn.tune(form, "nonlinear", STEPS, **kwargs)
    monkeypatch.setattr(evaluate, "fleet_class", lambda form: None)
    singles = vorn.tune(form, "nonlinear", STEPS, **kwargs)
    assert summary(batched) == summary(singles)
    fleet = batched.fleet(3)
    assert len(fleet) == 3 and fleet[1].__getnewargs__() == batched.controller().__getnewargs__()


@pytest.mark.skipif(importlib.util.find_spec("matplotlib") is None, reason="matplotlib not installed")
def test_plot_draws_the_winner_the_pid_and_the_defaults(tmp_path):
    t = vorn.tune("cfdl", "dead-time", STEPS, seed=0, max_generations=2)
    t.plot(tmp_path / "t.png")
    assert (tmp_path / "t.png").read_bytes()[:4] == b"\x89PNG"
    figure = t.plot()
    labels = [line.get_label() for line in figure.axes[0].lines]
    assert labels[0] == "set point" and [x.split(" (")[0] for x in labels[1:]] == [
        "tuned CFDL", "tuned PID", "class defaults"]


class SubmitRaises(ThreadPoolExecutor):
    def submit(self, *args, **kwargs):
        raise RuntimeError("no workers left")


class ResultRaises(ThreadPoolExecutor):
    def submit(self, fn, *args, **kwargs):
        def broken(*a, **k):
            raise ConnectionError("worker lost")
        return super().submit(broken, *args, **kwargs)


def returning(garbage):
    class Garbage(ThreadPoolExecutor):
        def submit(self, fn, *args, **kwargs):
            return super().submit(lambda *a, **k: garbage(fn(*a, **k)), *args, **kwargs)
    return Garbage


@pytest.mark.parametrize("executor, message", [
    (SubmitRaises, "SubmitRaises failed to cost a generation: RuntimeError: no workers left"),
    (ResultRaises, "ResultRaises failed to cost a generation: ConnectionError: worker lost"),
    (returning(lambda r: None), "returned NoneType .* not their costs"),
    (returning(lambda r: r[0]), "returned ndarray"),
    (returning(lambda r: (r[0][:1], r[1], r[2])), "not their costs"),
    (returning(lambda r: (r[0].astype(int), r[1], r[2])), "not their costs"),
    (returning(lambda r: (np.full_like(r[0], np.nan), r[1], r[2])), "not their costs"),
    (returning(lambda r: (r[0], r[1][:, :0], r[2])), "not their costs"),
    (returning(lambda r: (r[0], r[2])), "not their costs"),
    (returning(lambda r: (r[0], r[1], 42)), "not their costs"),
])
def test_a_broken_executor_is_an_error_naming_it_never_a_quiet_local_fallback(executor, message):
    with executor(2) as pool:
        with pytest.raises(RuntimeError, match=message):
            vorn.tune("cfdl", "dead-time", STEPS, seed=0, executor=pool, **SMALL)


def test_a_plant_raising_in_a_worker_is_penalised_as_it_is_without_an_executor():
    alone = vorn.tune("pfdl", Raising(limit=2.5), square(), seed=0, **SMALL)
    with ThreadPoolExecutor(2) as pool:
        split = vorn.tune("pfdl", Raising(limit=2.5), square(), seed=0, executor=pool, **SMALL)
    assert summary(split) == summary(alone)
    with ThreadPoolExecutor(2) as pool, pytest.raises(ValueError, match="raised on every candidate: RuntimeError"):
        vorn.tune("pfdl", Raising(limit=-1.0), square(), seed=0, executor=pool, **SMALL)


class PlantClock:
    """A clock that runs only while the plant works: every step costs `dt` seconds."""

    def __init__(self):
        self.now = 0.0

    def monotonic(self):
        return self.now


class Timed(Lag):
    def __init__(self, clock, dt):
        super().__init__()
        self.clock, self.dt = clock, dt

    def step(self, u):
        self.clock.now += self.dt
        return super().step(u)


@pytest.mark.parametrize("pid", [False, True])
def test_the_budget_is_kept_and_one_too_small_for_a_generation_is_refused(monkeypatch, pid):
    clock = PlantClock()
    for name in ("search", "tune"):
        monkeypatch.setattr(importlib.import_module(f"vorn.tuning.{name}"), "time", clock)
    generation = 0.25  # seconds of plant time per closed loop (one call per sample)
    plant = Timed(clock, generation / STEPS)
    t = vorn.tune("cfdl", plant, square(), budget=4.0, seed=0, pid=pid)
    assert t.generations > 1 and np.isfinite(t.default_cost)
    assert t.elapsed <= 4.0 + 1e-9  # generations of a steady pace are predicted exactly
    clock.now = 0.0
    with pytest.raises(ValueError, match=r"budget of 0.2 s is too small .* took 0.25 s"):
        vorn.tune("cfdl", plant, square(), budget=0.2, seed=0, pid=pid)
    # refused after the bump test and its first generation, with nothing more run
    assert clock.now <= 0.25 + BUMP * generation / STEPS + 1e-9


def test_the_defaults_ride_in_the_first_generation_and_cost_what_they_cost_alone():
    t = vorn.tune("ffdl", "nonlinear", STEPS, seed=3, u_min=-1.5, u_max=1.5, **SMALL)
    yd = vorn.loop.simulate.schedule("nonlinear", STEPS)
    problem = evaluate.Problem("ffdl", "nonlinear", STEPS, yd, None, None, 1, "iae", "mean")
    assert t.evaluations == 3 * 16
    # Equal up to the order of the sum over samples, which NumPy picks by the loop's width.
    assert t.default_cost == pytest.approx(evaluate.costs(problem, [dict(u_min=-1.5, u_max=1.5)])[0][0], rel=1e-14)


@pytest.mark.parametrize("noise, scenarios, expected", [(0.0, None, 1), (0.02, None, 8), (0.02, 3, 3)])
def test_noisy_tuning_uses_several_scenarios_and_reports_a_held_out_cost(noise, scenarios, expected):
    t = vorn.tune("pfdl", "nonlinear", 240, seed=3, noise=noise, scenarios=scenarios, max_generations=1, pid=False)
    evaluations = t.evaluations
    assert evaluations >= 16
    if noise:
        # Judged on draws the search never saw, and not the tuned cost itself.
        assert t.held_out_cost is not None and np.isfinite(t.held_out_cost)
        assert t.held_out_cost != t.cost
        assert "held out" in t.yaml().splitlines()[0]
    else:
        assert t.held_out_cost is None
    from vorn.tuning.tune import default_scenarios

    assert (default_scenarios(noise) if scenarios is None else scenarios) == expected


def test_the_held_out_cost_repeats_with_the_seed():
    kw = dict(seed=4, noise=0.02, max_generations=1, pid=False)
    a, b = (vorn.tune("cfdl", "nonlinear", 240, **kw) for _ in range(2))
    assert a.held_out_cost == b.held_out_cost


def test_the_command_line_prints_the_held_out_cost_beside_the_tuned_one(capsys):
    from vorn.cli import main

    assert main(["tune", "--form", "cfdl", "--plant", "nonlinear", "--steps", "240", "--noise", "0.02",
                 "--budget", "2", "--no-pid"]) == 0
    out = capsys.readouterr().out
    tuned = float(re.search(r"IAE (\S+) tuned", out).group(1))
    held = float(re.search(r"IAE (\S+) on fresh scenarios it was not tuned on", out).group(1))
    assert tuned > 0 and held > 0
