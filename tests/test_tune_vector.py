"""The full form's step-factor vector as the tuner searches and carries it: the scalar law
inside the searched space, the saved file's companion keys read back bit for bit by
`vorn run --config` and `vorn export-c --config`, the exported C computing the same inputs,
the operating point the file records, and the refusals of a damaged companion key."""

import re
import struct

import numpy as np
import pytest

import vorn
from tests.test_export_c import needs_cc, run_exported
from vorn.cli import main
from vorn.cli.config import Refused, check, configured
from vorn.tuning import weights

STEPS = 240


class Resting:
    """First order behind two samples of dead time, at rest at y = 7 with u = 0."""

    def reset(self, n):
        self.y = np.full(n, 7.0)
        self.pending = [np.zeros(n), np.zeros(n)]
        return self.y.copy()

    def step(self, u):
        self.pending.append(np.array(u, dtype=float))
        self.y = 7.0 + 0.8 * (self.y - 7.0) + 0.3 * self.pending.pop(0)
        return self.y.copy()


def square(levels=(1.0, 2.0), hold=60):
    return np.asarray(levels)[(np.arange(STEPS) // hold) % len(levels)]


@pytest.fixture(scope="module")
def tuned():
    return vorn.tune("ffdl", "dead-time", STEPS, seed=3, max_generations=6, pid=False)


@pytest.mark.parametrize("l_y, l_u", [(0, 1), (1, 2), (3, 4)])
def test_the_scalar_law_is_a_point_of_the_vector_law(l_y, l_u):
    scalar = vorn.FFDLController(rho=0.3, l_y=l_y, l_u=l_u)
    vector = weights.single("ffdl", {"rho": 0.3, "l_y": l_y, "l_u": l_u,
                                     "rho_vector": weights.scalar_law_vector(0.3, l_y, l_u)})
    rng = np.random.default_rng(l_y + l_u)
    for y, yd in rng.standard_normal((200, 2)):
        assert struct.pack("d", scalar.update(y, yd)) == struct.pack("d", vector.update(y, yd))


def test_the_tuning_carries_its_vector_into_controllers_and_fleets(tuned):
    vector = tuned.params["rho_vector"]
    assert len(vector) == tuned.params["l_y"] + tuned.params["l_u"]
    assert all(0.0 < v <= 1.0 for v in vector) and tuned.params["rho"] == vector[tuned.params["l_y"]]
    assert tuned.controller().__getstate__()["rho_vector"] == vector
    np.testing.assert_array_equal(tuned.fleet(3).__getstate__()["rho_vector"], [vector] * 3)
    assert tuned.run().metrics.iae[0] == tuned.cost  # noise-free: the run's IAE is the tuned cost


def test_a_saved_vector_replays_bit_for_bit_through_the_configuration_path(tuned, tmp_path, capsys):
    path = tmp_path / "t.yaml"
    tuned.save(path)
    assert "rho_vector: [" in path.read_text(encoding="utf-8")
    report = check(str(path))
    assert report.ignored == [] and report.warnings("ffdl") == []  # the companion keys are known
    controller, start = configured("ffdl", str(path), None)
    assert start == "plant" and controller.__getstate__()["rho_vector"] == tuned.params["rho_vector"]
    assert vorn.simulate(controller, "dead-time", STEPS).metrics.iae[0] == tuned.cost
    assert main(["run", "--form", "ffdl", "--plant", "dead-time", "--config", str(path),
                 "--steps", str(STEPS)]) in (0, 1)
    out, err = capsys.readouterr()
    assert "warning" not in err and f"{tuned.cost:.5g}"[:5] in out
    assert main(["check-config", str(path)]) == 0


@needs_cc
def test_the_exported_c_of_a_saved_vector_computes_the_tuned_inputs(tuned, tmp_path):
    path = tmp_path / "t.yaml"
    tuned.save(path)
    assert main(["export-c", "--form", "ffdl", "--config", str(path), "--name", "ctl", "--out", str(tmp_path)]) == 0
    run = tuned.run()
    y, yd, u = run.y[:, 0], run.yd[:, 0], run.u[:, 0]
    bits = lambda x: struct.pack(">d", x).hex()  # noqa: E731
    # The loop's inputs follow from its measurements: the same (y, yd) give the same u.
    got = run_exported(tmp_path, [f"u {bits(a)} {bits(b)}" for a, b in zip(y, yd)])
    assert [line[0] for line in got] == [bits(v) for v in u]


def test_the_operating_point_is_recorded_and_the_replay_starts_there(tmp_path):
    t = vorn.tune("pfdl", Resting(), 7.0 + square(), seed=0, max_generations=3, pid=False)
    assert t.y0 == 7.0 and t.identified.dead_time == 2
    path = tmp_path / "t.yaml"
    t.save(path)
    assert "operating_point: plant  # its output at rest: 7.0" in path.read_text(encoding="utf-8")
    controller, start = configured("pfdl", str(path), None)
    assert vorn.simulate(controller, Resting(), 7.0 + square(), start=start).metrics.iae[0] == t.cost
    zero = vorn.tune("pfdl", "dead-time", STEPS, seed=0, max_generations=2, pid=False, operating_point=None)
    zero.save(path)
    assert configured("pfdl", str(path), None)[1] is None


@pytest.mark.parametrize("line, form, message", [
    ("rho_vector: [0.5, 1.0]", "ffdl", "holds 2 step factors; L_y + L_u = 3"),
    ("rho_vector: [0.5, x, 1.0]", "ffdl", "a list of numbers on one line"),
    ("rho_vector:\n  - 0.5", "ffdl", "a list of numbers on one line"),
    ("rho_vector: [0.5, nan, 1.0]", "ffdl", "finite numbers"),
    ("rho_vector: [1.0, 1.0, 1.0]\nrho_vector: [1.0, 1.0, 1.0]", "ffdl", "given twice"),
    ("operating_point: somewhere", "ffdl", "plant or zero"),
])
def test_a_damaged_companion_key_is_refused_in_one_line(tmp_path, line, form, message):
    path = tmp_path / "t.yaml"
    path.write_text(f"L_y: 1\nL_u: 2\n{line}\n", encoding="utf-8")
    with pytest.raises(Refused, match=re.escape(message)):
        check(str(path)).controller(form)


def test_a_vector_on_another_form_is_ignored_with_a_warning(tmp_path, capsys):
    path = tmp_path / "t.yaml"
    path.write_text("L_u: 2\nrho_vector: [1.0, 0.5]\n", encoding="utf-8")
    controller, _ = configured("pfdl", str(path), __import__("sys").stderr)
    assert isinstance(controller, vorn.PFDLController)
    assert "only the full form (ffdl) takes a step-factor vector" in capsys.readouterr().err
