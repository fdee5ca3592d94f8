"""Threads: controllers stepped by their own threads give the serial results bit for bit;
threads sharing one controller get results or RuntimeError, never a crash, a lost step or
a state that no serial run passes through."""

import math
import struct
import sys
import threading

import pytest

from tests.running import LONG
from vorn import _vorn_core as m

THREADS = 8
STEPS = 2000 if LONG else 300


def bits(x):
    if isinstance(x, float):
        return struct.pack("<d", x)
    if isinstance(x, (list, tuple)):
        return tuple(bits(v) for v in x)
    if isinstance(x, dict):
        return tuple((k, bits(v)) for k, v in x.items())
    return x


@pytest.fixture(autouse=True)
def fast_switching():
    """Switch threads as often as the interpreter allows, to interleave the calls."""
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def run_threads(targets):
    errors = []
    start = threading.Barrier(len(targets))

    def wrap(fn):
        def run():
            try:
                start.wait()
                fn()
            except BaseException as e:  # noqa: BLE001 - reported below
                errors.append(e)
        return run

    threads = [threading.Thread(target=wrap(fn)) for fn in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors


FACTORIES = [
    ("CFDLController", lambda: m.CFDLController(), lambda c, k: c.update(math.sin(k / 7), 1.0)),
    ("PFDLController", lambda: m.PFDLController(l_u=3), lambda c, k: c.update_logged(math.sin(k / 7), 1.0)),
    ("FFDLController", lambda: m.FFDLController(u_min=-2.0, u_max=2.0), lambda c, k: c.update(math.sin(k / 7), 1.0)),
    ("MimoCfdlController", lambda: m.MimoCfdlController(2),
     lambda c, k: c.update([math.sin(k / 7), math.cos(k / 5)], [1.0, 0.5])),
    ("MimoPfdlController", lambda: m.MimoPfdlController(3),
     lambda c, k: c.update([math.sin(k / 7), 0.1, math.cos(k / 5)], [1.0, 0.5, 0.0])),
    ("MimoFfdlController", lambda: m.MimoFfdlController(2),
     lambda c, k: c.update([math.sin(k / 7), math.cos(k / 5)], [1.0, 0.5])),
]


def trajectory(make, step, offset):
    c = make()
    return [bits(step(c, k + offset)) for k in range(STEPS)] + [bits(c.get_phi())]


@pytest.mark.parametrize("name, make, step", FACTORIES, ids=[f[0] for f in FACTORIES])
def test_own_controllers_match_serial(name, make, step):
    serial = [trajectory(make, step, 100 * i) for i in range(THREADS)]
    results = [None] * THREADS

    def worker(i):
        def run():
            results[i] = trajectory(make, step, 100 * i)
        return run

    run_threads([worker(i) for i in range(THREADS)])
    assert results == serial


SHARED = [
    ("CFDLController", lambda: m.CFDLController(), lambda c: c.update(0.25, 1.0)),
    ("PFDLController", lambda: m.PFDLController(), lambda c: c.update(0.25, 1.0)),
    ("FFDLController", lambda: m.FFDLController(), lambda c: c.update_logged(0.25, 1.0)),
    ("MimoPfdlController", lambda: m.MimoPfdlController(2), lambda c: c.update([0.25, 0.5], [1.0, 1.0])),
]


def readers(c):
    calls = [c.get_phi, lambda: repr(c)]
    if isinstance(c, (m.CFDLController, m.PFDLController, m.FFDLController)):
        calls += [c.__getstate__, c.__getnewargs__]
    else:
        calls.append(lambda: c.dim)
    return calls


@pytest.mark.parametrize("name, make, step", SHARED, ids=[s[0] for s in SHARED])
def test_shared_controller(name, make, step):
    """Every thread steps the same controller with the same inputs, so however the steps
    interleave, the n-th accepted step must return what the n-th serial step returns, and
    every reading must show a state of the serial run."""
    writers, per_writer = THREADS // 2, STEPS
    reference = make()
    serial_results, serial_states = [], {bits(reference.get_phi())}
    for _ in range(writers * per_writer):
        serial_results.append(bits(step(reference)))
        serial_states.add(bits(reference.get_phi()))

    c = make()
    got, seen, conflicts = [], [], []

    def writer():
        for _ in range(per_writer):
            while True:
                try:
                    got.append(bits(step(c)))
                    break
                except RuntimeError as e:  # the access was taken: try again
                    conflicts.append(str(e))

    def reader():
        calls = readers(c)
        for k in range(per_writer):
            try:
                value = calls[k % len(calls)]()
            except RuntimeError as e:
                conflicts.append(str(e))
                continue
            if k % len(calls) == 0:
                seen.append(bits(value))

    run_threads([writer] * writers + [reader] * (THREADS - writers))
    assert set(conflicts) <= {"Already borrowed", "Already mutably borrowed"}
    assert sorted(got) == sorted(serial_results), "a step was lost, repeated or torn"
    assert bits(c.get_phi()) == bits(reference.get_phi())
    assert set(seen) <= serial_states, "a reading showed a state no serial run passes through"


def test_shared_tuning_and_loader():
    """The module functions called from many threads at once on shared controllers."""
    ff = m.FFDLController(l_u=1)
    expected = m.ffdl_zn_tuning(ff, 1.0, 4.0, 2.0, 0.5)
    pf = m.PFDLController()
    out = []

    def work():
        for k in range(STEPS):
            out.append(bits(m.ffdl_zn_tuning(ff, 1.0, 4.0, 2.0, 0.5)))
            m.apply_ffdl_zn_tuning(ff, 1.0, 4.0, 2.0, 0.5)
            m.apply_pfdl_initial_guess(pf, [0.3, 0.2])
            assert m.load_config_from_yaml(False)[0] == 1.0
            assert m.pid_to_pfdl(1.0, 1.0, 0.25, 0.5) == [-0.5, 1.5, -0.5]

    run_threads([work] * THREADS)
    assert set(out) == {bits(expected)}
    assert bits(ff.__getstate__()["rho_vector"]) == bits(expected)
    assert pf.get_phi() == [0.3, 0.2]


@pytest.mark.parametrize("cls", ["CFDLFleet", "PFDLFleet", "FFDLFleet"])
@pytest.mark.parametrize("n", [3, 1 << 14], ids=["small", "without the lock"])
def test_shared_fleet(cls, n):
    """Threads stepping and reading one fleet: every accepted step is a step of the serial
    run, every reading a state of it; a refusal is the access state's RuntimeError. The
    larger fleet steps with the interpreter lock released."""
    import numpy as np
    from vorn import _vorn_fleet as fl
    make = lambda: getattr(fl, cls)(n, u_min=-2.0, u_max=2.0)  # noqa: E731
    y, yd = np.linspace(-0.5, 0.5, n), np.ones(n)
    writers, per_writer = THREADS // 2, max(STEPS // 10, 20)
    reference = make()
    serial_results, serial_states = [], {reference.get_phi().tobytes()}
    for _ in range(writers * per_writer):
        serial_results.append(reference.update(y, yd).tobytes())
        serial_states.add(reference.get_phi().tobytes())

    fleet = make()
    got, seen, conflicts = [], [], []

    def writer():
        out = np.empty(n)
        for k in range(per_writer):
            while True:
                try:
                    if k % 2:
                        got.append(fleet.update(y, yd, out=out).tobytes())
                    else:
                        got.append(fleet.update_logged(y, yd)[0].tobytes())
                    break
                except RuntimeError as e:
                    conflicts.append(str(e))

    def reader():
        calls = [lambda: fleet.get_phi().tobytes(), fleet.__getstate__, lambda: len(fleet), lambda: repr(fleet),
                 lambda: fleet[n - 1]]
        for k in range(per_writer):
            try:
                value = calls[k % len(calls)]()
            except RuntimeError as e:
                conflicts.append(str(e))
                continue
            if k % len(calls) == 0:
                seen.append(value)

    run_threads([writer] * writers + [reader] * (THREADS - writers))
    assert set(conflicts) <= {"Already borrowed", "Already mutably borrowed"}
    assert sorted(got) == sorted(serial_results), "a step was lost, repeated or torn"
    assert fleet.get_phi().tobytes() == reference.get_phi().tobytes()
    assert set(seen) <= serial_states, "a reading showed a state no serial run passes through"
