"""The dead time and gain sign from logged samples instead of a bump test (vorn.tuning.Logged,
`vorn tune --identify-from`), and the tuner's own handling of the points it injects into a
search."""

import numpy as np
import pytest

import vorn
from vorn.cli import main
from vorn.tuning import Logged
from vorn.tuning.identify import LOGGED_DATA, from_data
from vorn.tuning.search import cma_search
from vorn.tuning.space import build_space


class DelayedLag:
    """y(k+1) = a·y(k) + g·u(k − d): a first-order lag behind d samples of dead time. Counts
    its steps, so a test can tell whether the tuner bumped it."""

    def __init__(self, dead_time, gain=0.5, a=0.8):
        self.d, self.g, self.a = dead_time, gain, a
        self.steps = 0

    def reset(self, n):
        self.x = np.zeros(n)
        self.queue = [np.zeros(n) for _ in range(self.d)]
        return self.x.copy()

    def step(self, u):
        self.steps += 1
        self.queue.append(np.array(u, dtype=float))
        self.x = self.a * self.x + self.g * self.queue.pop(0)
        return self.x.copy()


def logged(plant, samples=400, noise=0.02, seed=1):
    """Held random input levels and the plant's response, y[k+1] the first to follow u[k]."""
    rng = np.random.default_rng(seed)
    u = np.repeat(rng.choice([-1.0, 1.0], samples // 10), 10)
    y = np.zeros(len(u))
    plant.reset(1)
    for k in range(len(u) - 1):
        y[k + 1] = plant.step(np.array([u[k]]))[0]
    return u, y + noise * rng.standard_normal(len(y))


@pytest.mark.parametrize("dead_time", [0, 1, 4, 8])
@pytest.mark.parametrize("gain", [0.5, -0.5])
def test_the_dead_time_and_sign_of_a_logged_plant_are_found(dead_time, gain):
    found = from_data(Logged(*logged(DelayedLag(dead_time, gain))))
    assert found is not None and found.source == LOGGED_DATA
    assert found.dead_time == dead_time and found.gain_sign == np.sign(gain)
    assert found.gain == pytest.approx(gain / 0.2, rel=0.1)  # the lag's static gain g / (1 − a)


def test_an_output_that_does_not_follow_the_input_identifies_nothing():
    rng = np.random.default_rng(0)
    assert from_data(Logged(rng.standard_normal(300), rng.standard_normal(300))) is None


def test_tune_takes_its_orders_from_the_log_and_leaves_the_plant_unbumped():
    plant = DelayedLag(3)
    u, y = logged(DelayedLag(3))
    yd = np.repeat([1.0, 2.0, 1.0], 60)
    for identify in (Logged(u, y), (u, y)):
        plant.steps = 0
        t = vorn.tune("pfdl", plant, yd, identify=identify, max_generations=2, pid=False)
        assert t.identified.dead_time == 3 and t.identified.source == LOGGED_DATA
        assert t.params["l_u"] >= 4  # searched from the dead time + 1
        assert plant.steps % len(yd) == 0  # closed loops only: no bump test's 90 samples
        assert "from logged data" in t.identified.describe()


@pytest.mark.parametrize("u, y, error, message", [
    (np.arange(50.0), np.arange(49.0), ValueError, "one entry per sample: 50 and 49"),
    (np.arange(10.0), np.arange(10.0), ValueError, "too few"),
    (np.ones(50), np.arange(50.0), ValueError, "never changes"),
    (np.r_[np.arange(49.0), np.nan], np.arange(50.0), ValueError, "the logged input u must be finite"),
    (np.arange(50.0), np.r_[np.inf, np.arange(49.0)], ValueError, "the logged output y must be finite"),
    (np.zeros((50, 2)), np.zeros((50, 2)), ValueError, "1-D"),
    (np.arange(50.0) + 0j, np.arange(50.0), ValueError, "complex"),
])
def test_bad_logs_are_refused_with_what_is_wrong(u, y, error, message):
    with pytest.raises(error, match=message):
        Logged(u, y)


@pytest.mark.parametrize("identify", ["yes", (np.arange(50.0),), 3])
def test_identify_takes_a_flag_or_logged_samples_only(identify):
    with pytest.raises(TypeError, match="identify must be True"):
        vorn.tune("cfdl", "dead-time", 120, identify=identify, max_generations=1, pid=False)


def test_the_command_line_reads_the_log_from_a_csv_file(tmp_path, capsys):
    u, y = logged(DelayedLag(2))
    path = tmp_path / "log.csv"
    rows = "".join(f"{k},{float(a)!r},{float(b)!r}\n" for k, (a, b) in enumerate(zip(u, y)))
    path.write_text("k,u,y\n" + rows, encoding="utf-8")
    assert main(["tune", "--form", "cfdl", "--plant", "dead-time", "--steps", "120", "--budget", "2",
                 "--no-pid", "--identify-from", str(path)]) == 0
    assert "identified: dead time 2 samples" in capsys.readouterr().out
    (tmp_path / "bad.csv").write_text("k,u\n0,1.0\n", encoding="utf-8")
    assert main(["tune", "--form", "cfdl", "--plant", "dead-time", "--identify-from", str(tmp_path / "bad.csv")]) == 2
    assert "columns u and y" in capsys.readouterr().err


def test_a_point_injected_on_a_face_of_the_cube_is_costed_as_given():
    # The optimiser hands injected points back through its boundary transform, which moves a
    # point on a face (a step factor of 1); the search must cost the point itself.
    space = build_space("ffdl", dead_time=2)
    point = space.decode(np.full(space.size, 0.5))
    point["rho_vector"] = [1.0] * len(point["rho_vector"])
    point["rho"] = 1.0
    seen = []

    def cost(candidates):
        seen.extend(candidates)
        return np.array([0.0 if c == point else 1.0 for c in candidates])

    found = cma_search(space, cost, budget=np.inf, seed=0, max_generations=1, inject=[point])
    assert seen[0] == point and found.params == point and found.cost == 0.0
