"""vorn.tune on MIMO plants: the MIMO class through the MIMO fleets beside a decentralised PID,
costs that are the runs' summed IAE to the last bit, seeded searches that repeat, channel
signs found or given, the tuning's file read back exactly, and the refusals."""

import importlib.util
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import vorn
from vorn.forms import MIMO
from vorn.tuning.mimo_file import parse_mimo_text, read_mimo_file, same_record
from vorn.tuning.mimo_signs import SignedPlant, signed
from vorn.tuning.mimo_result import MimoTuning

from tests.mimo_plants import NegativeChannel, ThreeTanks, square_waves

STEPS = 300
COUNT = dict(max_evaluations=64)


def plant_case(name):
    if name == "coupled":
        return "coupled", 400, {}
    if name == "negative":
        return NegativeChannel(), square_waves(STEPS, (1.0, 0.8)), dict(operating_point=None)
    return ThreeTanks(), square_waves(STEPS, (1.0, 0.6, 0.8)), {}


def summed_iae(run):
    iae = run.metrics.iae[0]
    total = iae[0]
    for value in iae[1:]:
        total += value
    return float(total)


@pytest.mark.parametrize("name, form", [("coupled", "pfdl"), ("negative", "cfdl"), ("negative", "ffdl"),
                                        ("tanks", "pfdl")])
def test_the_tuned_loop_beats_the_defaults_and_every_cost_is_its_runs_summed_iae(name, form):
    plant, setpoint, options = plant_case(name)
    t = vorn.tune(form, plant, setpoint, seed=2, **COUNT, **options)
    assert isinstance(t, MimoTuning) and t.cost < t.default_cost
    assert type(t.controller()) is MIMO[form].single and type(t.fleet(3)) is MIMO[form].fleet
    run = t.run()
    assert run.y.shape == (len(t.setpoint), 1, t.dim) and not run.diverged[0]
    assert summed_iae(run) == t.cost
    assert summed_iae(t.run(t.default_controller())) == t.default_cost
    assert summed_iae(t.run(t.pid.controller(t.dim))) == t.pid.cost == t.pid_cost
    assert all(len(t.pid.params[k]) == t.dim for k in ("kp", "ki", "kd"))


def test_a_seeded_search_with_a_count_repeats_exactly_and_an_executor_changes_no_cost():
    plant, setpoint, options = plant_case("tanks")
    first = vorn.tune("ffdl", plant, setpoint, seed=5, **COUNT)
    again = vorn.tune("ffdl", ThreeTanks(), setpoint, seed=5, **COUNT)
    with ThreadPoolExecutor(2) as pool:
        split = vorn.tune("ffdl", ThreeTanks(), setpoint, seed=5, executor=pool, **COUNT)
    for other in (again, split):
        assert (other.params, other.cost, other.history, other.pid.params, other.pid.cost) == \
            (first.params, first.cost, first.history, first.pid.params, first.pid.cost)


def test_a_negative_channel_gain_is_found_by_the_bump_test_and_carried_by_the_pid():
    plant, setpoint, options = plant_case("negative")
    t = vorn.tune("pfdl", plant, setpoint, seed=1, **COUNT, **options)
    assert t.signs == (1.0, -1.0)
    assert [c.gain_sign for c in t.identified.channels] == [1.0, -1.0]
    assert all(g[0] > 0.0 and g[1] < 0.0 for g in (t.pid.params["kp"], t.pid.params["ki"]))
    # The signed controller on the plant is the controller on the signed plant, bit for bit.
    direct = vorn.simulate(t.controller(), SignedPlant(NegativeChannel(), t.signs), setpoint, start=None)
    assert np.array_equal(direct.y, t.run().y)
    # Given signs win over the bump test; wrong signs make the tracking worse.
    wrong = vorn.tune("pfdl", plant, setpoint, seed=1, signs=[1, 1], pid=False, **COUNT, **options)
    assert wrong.signs == (1.0, 1.0) and wrong.cost > t.cost


def test_the_signed_wrapper_signs_a_fleets_inputs_and_a_controllers_list():
    single = signed(vorn.MimoCfdlController(2), [1.0, -1.0])
    plain = vorn.MimoCfdlController(2)
    assert single.update([0.1, 0.2], [1.0, 2.0]) == [u * s for u, s in zip(plain.update([0.1, 0.2], [1.0, 2.0]),
                                                                             (1.0, -1.0))]
    fleet = signed(vorn.MimoCfdlFleet(3, 2), [-1.0, 1.0])
    assert len(fleet) == 3 and fleet.update(np.zeros((3, 2)), np.ones((3, 2)))[:, 0].max() < 0.0


def test_the_tuning_file_reads_back_to_the_same_controller_bit_for_bit(tmp_path):
    plant, setpoint, options = plant_case("negative")
    t = vorn.tune("ffdl", plant, setpoint, seed=4, noise=0.01, scenarios=2, **COUNT, **options)
    assert t.held_out_cost is not None
    path = tmp_path / "tuned.vorn"
    t.save(path)
    record = read_mimo_file(path)
    assert same_record(record, t.record()) and record.signs == (1.0, -1.0) and record.operating_point is None
    ours, theirs = t.controller(), record.controller()
    rng = np.random.default_rng(0)
    for _ in range(50):
        y, yd = rng.normal(size=2).tolist(), rng.normal(size=2).tolist()
        assert ours.update(y, yd) == theirs.update(y, yd)
    assert path.read_text().splitlines()[2] == "form: mimo-ffdl"


GOOD = """form: mimo-pfdl
dim: 2
eta: 0.5
mu: 1.0
rho: 0.5
lambda_: 0.02
eps: 1e-05
l_y: 0
l_u: 2
initial_phi: 0.5
u0: 0.0
m_upper: 1000000.0
m_lower: 1e-06
signs: [1.0, -1.0]
operating_point: zero
"""


@pytest.mark.parametrize("edit, message", [
    (("eta: 0.5", "eta: half"), "line 3: eta must be a number"),
    (("l_u: 2", "l_u: -2"), "line 9: l_u must be a whole number"),
    (("dim: 2", "dim: 0"), "line 2: dim must be a whole number of at least 1"),
    (("form: mimo-pfdl", "form: pfdl"), "line 1: form must be one of mimo-cfdl"),
    (("signs: [1.0, -1.0]", "signs: [1.0, 0.5]"), "line 14: signs must hold one"),
    (("signs: [1.0, -1.0]", "signs: [1.0]"), "line 14: signs must hold one"),
    (("operating_point: zero", "operating_point: here"), "line 15: operating_point must be"),
    (("rho: 0.5", "rho: 0.5\neta: 0.4"), "eta is given twice"),
    (("rho: 0.5", "gain: 0.4"), "line 5: expected one of the keys"),
    (("m_lower: 1e-06\n", ""), "missing m_lower"),
    (("operating_point: zero\n", "operating_point: zero\npid_kp: [1.0, 1.0]\n"), "needs all of pid_kp"),
])
def test_a_broken_tuning_file_is_refused_naming_its_line(edit, message):
    assert parse_mimo_text(GOOD).params["l_u"] == 2
    with pytest.raises(ValueError, match=message):
        parse_mimo_text(GOOD.replace(*edit))


class Resting(NegativeChannel):
    def reset(self, n):
        super().reset(n)
        self.y += 1.0
        return self.y.copy()


@pytest.mark.parametrize("call, message", [
    (dict(u_min=-1.0), "MIMO controllers have no input limits"),
    (dict(signs=[1.0, -1.0, 1.0]), "signs must hold one"),
    (dict(bounds={"rho_vector": (0.1, 1.0)}), "no step-factor vector"),
    (dict(bounds={"m_upper": (1.0, 2.0)}), "m_upper is fixed"),
    (dict(setpoint=np.ones((STEPS, 3))), r"shape \(steps, 2\)"),
    (dict(start={"initial_phi": -0.5}), "give a channel's negative gain as signs="),
    (dict(plant=Resting(), operating_point="plant"), "rests away from zero"),
    (dict(identify=(np.arange(60.0) % 7, np.arange(60.0))), "logged data identifies a SISO plant"),
])
def test_bad_mimo_input_is_refused_with_a_clear_error(call, message):
    kwargs = dict(plant=NegativeChannel(), setpoint=square_waves(STEPS, (1.0, 0.8)), operating_point=None,
                  max_generations=1, pid=False)
    kwargs.update(call)
    with pytest.raises(ValueError, match=message):
        vorn.tune("pfdl", kwargs.pop("plant"), kwargs.pop("setpoint"), **kwargs)


def test_signs_are_refused_for_a_siso_plant():
    with pytest.raises(ValueError, match="MIMO plant"):
        vorn.tune("cfdl", "dead-time", 240, signs=[1.0], max_generations=1)


class Interrupting(NegativeChannel):
    """Raises KeyboardInterrupt at its `after`-th step call, as a Ctrl-C would."""

    def __init__(self, after):
        self.calls, self.after = 0, after

    def step(self, u):
        self.calls += 1
        if self.calls == self.after:
            raise KeyboardInterrupt
        return super().step(u)


def test_ctrl_c_returns_the_best_so_far_when_asked_and_raises_otherwise():
    setpoint = square_waves(STEPS, (1.0, 0.8))
    with pytest.raises(KeyboardInterrupt):
        vorn.tune("cfdl", Interrupting(after=STEPS), setpoint, operating_point=None, identify=False,
                  max_generations=3)
    t = vorn.tune("cfdl", Interrupting(after=2 * STEPS + 5), setpoint, operating_point=None, identify=False,
                  on_interrupt="return", max_generations=10)
    assert t.interrupted and t.generations == 2 and t.pid is None and isinstance(t, MimoTuning)


@pytest.mark.skipif(importlib.util.find_spec("matplotlib") is None, reason="matplotlib not installed")
def test_plot_draws_the_winner_the_pid_and_the_defaults_every_channel(tmp_path):
    t = vorn.tune("cfdl", NegativeChannel(), square_waves(120, (1.0, 0.8)), seed=0, max_generations=1,
                  operating_point=None)
    t.plot(tmp_path / "tuned.png")
    assert (tmp_path / "tuned.png").read_bytes()[:4] == b"\x89PNG"
    with pytest.raises(TypeError, match="stress table covers SISO tunings"):
        t.stress()
