"""Closed loops on MIMO plants: a MIMO fleet in `simulate` is the fleet stepped by hand, a
decentralised PID is one SISO PID per channel, and the record, its measures, figure and CSV
keep every member and channel apart."""

import csv
import re
from pathlib import Path

import numpy as np
import pytest

import vorn
from vorn.forms import MIMO
from vorn.loop.engine import Singles, closed_loop
from vorn.plants import builtin

FLEETS = {name: f.fleet for name, f in MIMO.items()}
STEPS = 360


def fleet_of(form, n=3):
    """A fleet whose members differ, so that a row mixed up with another shows."""
    return FLEETS[form](n, 2, rho=np.linspace(0.4, 0.7, n), lambda_=np.linspace(0.4, 0.8, n), eta=0.5)


def by_hand(controller, yd, seed, noise, n):
    """The loop the engine runs, written out: y = reset(n); u = update(y, yd[k]); y = step(u)."""
    rng = np.random.default_rng(seed)
    plant = builtin.make("coupled", len(yd), noise=noise, rng=rng)
    y = plant.reset(n)
    ys, us = [], []
    for k in range(len(yd)):
        u = controller.update(y.copy(), yd[k])
        ys.append(y)
        us.append(np.array(u, dtype=float))
        y = plant.step(np.array(us[-1]))
    return np.array(ys), np.array(us)


@pytest.mark.parametrize("noise", [0.0, 0.01])
@pytest.mark.parametrize("form", FLEETS)
def test_a_mimo_fleet_in_simulate_is_the_fleet_stepped_by_hand(form, noise):
    run = vorn.simulate(fleet_of(form), "coupled", STEPS, seed=4, noise=noise)
    y, u = by_hand(fleet_of(form), vorn.loop.simulate.schedule("coupled", STEPS), 4, noise, 3)
    assert run.y.shape == run.u.shape == run.yd.shape == (STEPS, 3, 2)
    assert run.y.tobytes() == y.tobytes() and run.u.tobytes() == u.tobytes()
    assert not run.diverged.any() and (run.samples == STEPS).all()


def test_each_member_may_follow_its_own_set_point():
    yd = np.stack([np.full((STEPS, 2), level) for level in (0.2, -0.3)], axis=1)
    run = vorn.simulate(fleet_of("pfdl", 2), "coupled", yd)
    y, u = by_hand(fleet_of("pfdl", 2), yd, None, 0.0, 2)
    assert run.yd.tobytes() == yd.tobytes() and run.u.tobytes() == u.tobytes()
    with pytest.raises(ValueError, match=r"shape \(360, 3, 2\); expected \(steps, 2, 2\)"):
        vorn.simulate(fleet_of("pfdl", 2), "coupled", np.zeros((STEPS, 3, 2)))


class OwnBatch:
    """A user's batch of MIMO controllers: `len()` and update on (members, dim) arrays."""

    def __init__(self, fleet):
        self.fleet = fleet

    def __len__(self):
        return len(self.fleet)

    def update(self, y, yd):
        return [list(row) for row in self.fleet.update(y, yd)]


def test_a_users_own_batch_runs_as_the_fleet_does():
    own = vorn.simulate(OwnBatch(fleet_of("ffdl")), "coupled", STEPS)
    fleet = vorn.simulate(fleet_of("ffdl"), "coupled", STEPS)
    assert own.u.tobytes() == fleet.u.tobytes() and own.y.tobytes() == fleet.y.tobytes()


@pytest.mark.parametrize("gains", [
    dict(kp=0.4, ki=0.1),
    dict(kp=[0.4, 0.25], ki=[0.1, 0.2], kd=[0.0, 0.05]),
    dict(kp=[0.9, 0.6], ki=0.5, u_min=-0.3, u_max=[0.25, 0.4]),  # anti-windup on both channels
])
def test_a_decentralised_pid_is_one_siso_pid_per_channel(gains):
    run = vorn.simulate(vorn.PID(**gains, n=2), "coupled", STEPS)

    def channel(c):
        return {k: (v[c] if isinstance(v, list) else v) for k, v in gains.items()}

    loops = [vorn.PID(**channel(c)) for c in range(2)]
    yd = vorn.loop.simulate.schedule("coupled", STEPS)
    plant = builtin.make("coupled", STEPS)
    y = plant.reset(1)[0]
    for k in range(STEPS):
        assert run.y[k, 0].tolist() == list(y)
        u = [loops[c].update(float(y[c]), float(yd[k, c])) for c in range(2)]
        assert run.u[k, 0].tolist() == u
        y = plant.step(np.array([u]))[0]
    assert run.y.shape == (STEPS, 1, 2)


@pytest.mark.parametrize("n", [1, 3])
def test_a_pid_whose_loops_are_not_the_plants_channels_is_refused(n):
    with pytest.raises(ValueError, match=f"dimension 2 needs n=2, one loop per channel, not n={n}"):
        vorn.simulate(vorn.PID(0.5, n=n), "coupled", 10)


def test_measures_are_per_member_and_channel():
    run = vorn.simulate(fleet_of("cfdl"), "coupled", STEPS)
    m = run.metrics
    for name in ("iae", "ise", "itae", "overshoot", "settling", "final_error", "effort", "variation", "rmse"):
        assert getattr(m, name).shape == (3, 2), name
    assert m.tracks.shape == m.diverged.shape == m.samples.shape == (3,)
    e = np.abs(run.yd - run.y)
    assert np.allclose(m.iae, e.sum(axis=0), rtol=1e-12, atol=0)
    assert np.array_equal(m.final_error, (run.yd - run.y)[-1])
    assert len(run.table().splitlines()) == 1 + 3  # one row per member, its channels pooled
    member = run.member(2)
    assert member.y.shape == (STEPS, 1, 2) and member.metrics.iae.tolist() == [m.iae[2].tolist()]


def test_a_member_that_runs_away_stops_alone():
    wild = FLEETS["cfdl"](3, 2, rho=[0.5, 1.0, 0.5], lambda_=[0.5, 1e-4, 0.5], initial_phi=[0.5, 0.01, 0.5],
                          eta=[0.5, 0.01, 0.5])
    third = wild[2]
    run = vorn.simulate(wild, "coupled", STEPS, limit=50.0)
    assert run.diverged.tolist() == [False, True, False]
    assert run.samples[1] < STEPS and (run.samples[[0, 2]] == STEPS).all()
    alone = vorn.simulate(FLEETS["cfdl"].from_controllers([third]), "coupled", STEPS)
    assert run.u[:, 2].tobytes() == alone.u[:, 0].tobytes()  # the others run on, undisturbed


@pytest.mark.parametrize("form", FLEETS)
def test_the_tuners_loop_runs_a_mimo_fleet_as_its_single_controllers(form):
    """The freezing loop over (steps, members, dim): a row of single controllers and the fleet
    agree bit for bit, a diverged member held at its set point included."""
    def make():
        return FLEETS[form](3, 2, rho=[0.5, 1.0, 0.6], lambda_=[0.5, 1e-4, 0.6], initial_phi=[0.5, 0.01, 0.5],
                            eta=[0.5, 0.01, 0.5])
    fleet = make()
    singles = Singles([fleet[i] for i in range(3)])
    common = np.broadcast_to(vorn.loop.simulate.schedule("coupled", STEPS)[:, None, :], (STEPS, 3, 2))
    yd = common.copy()
    a = closed_loop([fleet], builtin.make("coupled"), yd)
    b = closed_loop([singles], builtin.make("coupled"), yd)
    assert a.y.shape == (STEPS, 3, 2) and a.diverged[1] and not a.diverged[[0, 2]].any()
    assert a.y.tobytes() == b.y.tobytes() and a.u.tobytes() == b.u.tobytes()
    # A set point common to the members reaches them as one row of channels per sample.
    for bank in (make(), Singles([make()[i] for i in range(3)])):
        assert closed_loop([bank], builtin.make("coupled"), common).u.tobytes() == a.u.tobytes()
    assert np.isfinite(a.u).all() and (a.u[a.samples[1]:, 1] == 0.0).all()  # frozen: input held at 0


def test_the_csv_holds_a_row_per_member_channel_and_sample(tmp_path):
    run = vorn.simulate(fleet_of("pfdl", 2), "coupled", 40)
    path = tmp_path / "run.csv"
    run.to_csv(str(path))
    with open(path, newline="") as stream:
        rows = list(csv.DictReader(stream))
    assert list(rows[0]) == ["controller", "plant", "member", "channel", "k", "yd", "y", "u"]
    assert len(rows) == 2 * 2 * 40
    for r in rows:
        i, c, k = int(r["member"]), int(r["channel"]) - 1, int(r["k"])
        assert (float(r["yd"]), float(r["y"]), float(r["u"])) == (run.yd[k, i, c], run.y[k, i, c], run.u[k, i, c])


def test_the_figure_draws_every_channel(tmp_path):
    pytest.importorskip("matplotlib")
    run = vorn.simulate(fleet_of("ffdl"), "coupled", 120)
    fig = run.plot(member=2)
    top, bottom = fig.axes[:2]
    assert [line.get_label() for line in top.get_lines()] == ["y1", "yd1", "y2", "yd2"]
    assert [line.get_label() for line in bottom.get_lines()] == ["u1", "u2"]
    assert bottom.get_lines()[1].get_ydata().tolist() == run.u[:, 2, 1].tolist()
    run.plot(str(tmp_path / "run.png"))
    assert (tmp_path / "run.png").stat().st_size > 1000


class Resting:
    """A coupled process resting away from zero."""

    dim = 2

    def reset(self, n):
        self.y = np.full((n, 2), 0.5)
        return self.y.copy()

    def step(self, u):
        self.y = 0.5 * self.y + 0.5 * u
        return self.y.copy()


@pytest.mark.parametrize("controller", [lambda: fleet_of("pfdl"), lambda: vorn.MimoPfdlController(2)])
def test_mimo_controllers_at_a_plant_resting_away_from_zero_are_refused_their_start(controller):
    with pytest.raises(TypeError, match="deviation variables"):
        vorn.simulate(controller(), Resting(), np.ones((20, 2)))
    run = vorn.simulate(controller(), Resting(), np.ones((20, 2)), start=None)
    assert run.y.shape[1:] in ((3, 2), (1, 2))


def test_the_readme_section_prints_what_it_claims(capsys):
    text = (Path(__file__).resolve().parents[1] / "README.md").read_text(encoding="utf-8")
    section = text.split("## MIMO fleets and simulation", 1)[1]
    code, claimed = re.findall(r"```(?:python)?\n(.*?)```", section, re.S)[:2]
    exec(compile(code, "README.md", "exec"), {})
    assert capsys.readouterr().out == claimed


def test_a_decentralised_pid_starts_at_the_plants_rest_channel_by_channel():
    # Its previous measurement is the plant's rest on each channel: no derivative kick.
    run = vorn.simulate(vorn.PID(0.5, ki=0.1, kd=0.2, n=2), Resting(), np.full((20, 2), 0.5))
    assert run.y.shape == (20, 1, 2) and run.u[0, 0].tolist() == [0.0, 0.0]


@pytest.mark.parametrize("plant", [lambda: "coupled", builtin.CoupledPlant, Resting])
def test_noise_reaches_every_plant_given_as_a_name_or_an_object(plant):
    quiet = vorn.simulate(fleet_of("pfdl"), plant(), np.ones((30, 2)), start=None)
    noisy = vorn.simulate(fleet_of("pfdl"), plant(), np.ones((30, 2)), start=None, noise=0.1, seed=3)
    assert noisy.y.shape == quiet.y.shape == (30, 3, 2)
    assert not np.array_equal(noisy.y, quiet.y)
