"""The benchmark suite: its pure-Python and NumPy peers compute what the module computes,
its ratios point the right way, and a tiny configuration runs end to end. Nothing here
looks at how fast anything is."""

import json
import random
import sys
from pathlib import Path

import pytest

import vorn

sys.path.append(str(Path(__file__).resolve().parents[1]))

from bench import cases, peers, run  # noqa: E402
from bench.timing import Case, Comparison, compare  # noqa: E402


def closed_loop(controller, peer, method, steps=300, seed=3):
    """Drives both through the same first-order plant fed by the module's output; yields pairs."""
    rng = random.Random(seed)
    y = 0.0
    for k in range(steps):
        yd = 1.0 if (k // 50) % 2 == 0 else -0.5
        a = getattr(controller, method)(y, yd)
        b = getattr(peer, method)(y, yd)
        yield a, b
        u = a[0] if isinstance(a, tuple) else a
        y = 0.8 * y + 0.3 * u + rng.uniform(-0.02, 0.02)


SISO = [
    (vorn.CFDLController, peers.CfdlPeer, "update", {}),
    (vorn.CFDLController, peers.CfdlPeer, "update", {"u_min": -0.5, "u_max": 0.8, "rho": 0.9}),
    (vorn.CFDLController, peers.CfdlPeer, "update", {"initial_phi": -0.5, "eta": 0.3, "u0": 0.2}),
    (vorn.PFDLController, peers.PfdlPeer, "update_logged", {}),
    (vorn.PFDLController, peers.PfdlPeer, "update_logged", {"l_u": 1, "u_max": 0.6}),
    (vorn.PFDLController, peers.PfdlPeer, "update_logged", {"l_u": 4, "u_min": 0.1, "eta": 0.5}),
    (vorn.PFDLController, peers.PfdlPeer, "update", {"l_u": 3}),
    (vorn.FFDLController, peers.FfdlPeer, "update_logged", {}),
    (vorn.FFDLController, peers.FfdlPeer, "update_logged", {"l_y": 0, "l_u": 1}),
    (vorn.FFDLController, peers.FfdlPeer, "update_logged", {"l_y": 3, "l_u": 2, "u_min": -1.0, "u_max": 1.0}),
    (vorn.FFDLController, peers.FfdlPeer, "update", {"l_y": 2, "l_u": 3, "mu": 0.1}),
]


@pytest.mark.parametrize("cls, peer_cls, method, kw", SISO)
def test_siso_peer_agrees_bit_for_bit(cls, peer_cls, method, kw):
    for a, b in closed_loop(cls(**kw), peer_cls(**kw), method):
        assert repr(a) == repr(b)


@pytest.mark.parametrize("dim, kw", [(1, {}), (2, {}), (5, {"l_u": 3}), (4, {"l_u": 1, "initial_phi": 1.0}),
                                     (3, {"m_upper": 2.0, "rho": 0.9})])
def test_numpy_peer_agrees_to_rounding(dim, kw):
    np = pytest.importorskip("numpy")
    ctl, peer = vorn.MimoPfdlController(dim, **kw), peers.MimoPfdlPeer(dim, **kw)
    rng = random.Random(dim)
    y = [0.0] * dim
    yd = [1.0 + i for i in range(dim)]
    for _ in range(60):
        a, b = ctl.update(y, yd), peer.update(y, yd)
        np.testing.assert_allclose(a, b, rtol=1e-10, atol=1e-12)
        y = [0.6 * y[i] + 0.3 * a[i] + 0.1 * a[i - 1] + rng.uniform(-0.01, 0.01) for i in range(dim)]
    np.testing.assert_allclose(np.array(ctl.get_phi()), peer.phi, rtol=1e-10, atol=1e-12)


def _case(name, samples):
    c = Case(name, "x", "pass", {})
    c.samples = samples
    return c


@pytest.mark.parametrize("kind, target, ratio, met", [
    ("ratio", 1.5, 2.0, False),  # a is twice as slow as b
    ("ratio", 2.5, 2.0, True),
    ("speedup", 0.4, 0.5, True),  # b takes half a's time: a is 0.5× as fast
    ("speedup", 8.0, 0.5, False),
    ("ratio", None, 2.0, None),
])
def test_comparison_is_taken_round_by_round(kind, target, ratio, met):
    by_name = {"a": _case("a", [2.0, 4.0, 20.0]), "b": _case("b", [1.0, 2.0, 10.0])}
    r = compare(Comparison("a", "b", kind, target), by_name)
    assert r["ratio"] == r["ratio_min"] == r["ratio_max"] == ratio  # the noise cancels within a round
    assert r["met"] is met


def test_tiny_run_writes_figures(tmp_path, capsys):
    out = tmp_path / "figures.json"
    argv = ["--dims", "2,4", "--fleet", "10", "--fleet-sizes", "1,10", "--repeat", "2", "--min-time", "0.0001",
            "--json", str(out)]
    assert run.main(argv) == 0
    data = json.loads(out.read_text())
    names = {c["name"] for c in data["cases"]}
    assert {cases.FLOOR, "PFDLController.update(y, yd)", "Python CfdlPeer.update(y, yd)",
            "fleet of 10 PFDLController, per controller"} <= names
    if cases.have_numpy():
        assert {"MimoCfdlController.update dim=4", "NumPy partial form dim=4", "np.linalg.det dim=2"} <= names
        assert {"fleet PFDL l_u=2 n=10: vorn, per member", "fleet FFDL l_y=l_u=2 n=1: NumPy, per member",
                "fleet CFDL n=10: object fleet, per member"} <= names
    for c in data["cases"]:
        assert c["samples"] == 2 and 0 < c["min_ns"] <= c["median_ns"] <= c["max_ns"]
    for r in data["comparisons"]:
        assert r["case"] in names and r["ref"] in names and r["ratio"] > 0
        assert (r["met"] is None) == (r["target"] is None)
    table = capsys.readouterr().out
    assert "| PFDLController.update(y, yd) |" in table and str(out) in table


def test_simple_pid_is_skipped_when_absent(monkeypatch):
    monkeypatch.setattr(cases, "have_simple_pid", lambda: False)
    data = run.run(cases.Config(groups=("peers",), repeat=1, min_time=1e-4))
    assert not any("simple-pid" in c["name"] for c in data["cases"])
    assert "simple-pid: not installed" in data["skipped"]


@pytest.mark.parametrize("argv", [["--groups", "siso,nope"], ["--repeat", "0"], ["--dims", "two"]])
def test_bad_options_are_refused(argv):
    with pytest.raises(SystemExit):
        run.parse(argv)


class FakeTimer:
    """A timer whose statement takes `cost` seconds per execution."""

    def __init__(self, cost):
        self.cost = cost

    def timeit(self, number):
        return number * self.cost


@pytest.mark.parametrize("cost, min_time", [(1e-9, 0.02), (3e-7, 0.002), (0.5, 0.02), (1e-3, 0.0105)])
def test_calibration_reaches_the_sample_time_without_overshooting(cost, min_time):
    from bench.timing import calibrate

    n = calibrate(FakeTimer(cost), min_time)
    assert n * cost >= min_time
    assert n == 1 or (n - 1) * cost < 1.3 * min_time


def test_samples_are_per_call_one_per_round(monkeypatch):
    from bench import timing

    a, b = Case("a", "x", "pass", {}, per=10), Case("b", "x", "pass", {})
    costs = {"a": 1e-3, "b": 2e-3}
    monkeypatch.setattr(Case, "timer", lambda self: FakeTimer(costs[self.name]))
    timing.measure([a, b], repeat=4, min_time=0.01)
    assert len(a.samples) == len(b.samples) == 4
    assert a.samples == pytest.approx([1e-4] * 4) and b.samples == pytest.approx([2e-3] * 4)


@pytest.mark.parametrize("line", ["summary: 123456", "totals: 123456 7"])
def test_callgrind_totals_are_read(tmp_path, line):
    from bench.callgrind import _total

    out = tmp_path / "cg.out"
    out.write_text(f"version: 1\ncmd: python\nevents: Ir\n{line}\n")
    assert _total(out) == 123456


def test_fleet_peers_compute_the_fleets_step():
    np = pytest.importorskip("numpy")
    from bench import fleet_cases, fleet_peers

    peers = [fleet_peers.NumpyFleet] + ([fleet_peers.NumbaFleet] if fleet_peers.have_numba() else [])
    rng = np.random.default_rng(3)
    for _, fleet_cls, _, l_y, l_u, full in fleet_cases.FORMS:
        orders = {} if l_y is None else ({"l_y": l_y, "l_u": l_u} if full else {"l_u": l_u})
        fleet = fleet_cls(20, u_min=-10.0, u_max=10.0, **orders)
        others = [peer(20, l_y, l_u, full) for peer in peers]
        for _ in range(10):
            y = rng.uniform(-1, 1, 20)
            u = fleet.update(y, 1.0).copy()
            for other in others:
                assert np.array_equal(other.update(y, 1.0), u)


def test_the_hand_written_loop_computes_what_simulate_does():
    from bench import loops

    yd, y, u = loops.hand_loop(vorn.PFDLController(**loops.TUNING))
    result = vorn.simulate(vorn.PFDLController(**loops.TUNING), "nonlinear", loops.STEPS)
    assert result.yd[:, 0].tolist() == yd and result.y[:, 0].tolist() == y and result.u[:, 0].tolist() == u


def test_loop_group_runs_end_to_end():
    data = run.run(cases.Config(groups=("loop",), fleet=20, repeat=1, min_time=1e-4))
    names = {c["name"] for c in data["cases"]}
    assert any("simulate(PID(n=20)" in name for name in names)
