"""Threads over every face: objects stepped by their own threads give the serial results
bit for bit; threads sharing one object get results or the access state's RuntimeError,
never a crash, a lost step or a state that no serial run passes through. The larger fleets
step with the interpreter lock released."""

import pickle

import pytest

from tests.conformance.concurrency import CONFLICTS, STEPS, THREADS, fast_switching, run_threads  # noqa: F401
from tests.conformance.faces import FACES, Face
from tests.running import SANITIZED
from vorn import _vorn_fleet


def _limited(face: Face, **kwargs):
    return face.make(u_min=-2.0, u_max=2.0, **kwargs) if face.limits else face.make(**kwargs)


def trajectory(face, offset, steps):
    obj = _limited(face)
    return [face.step(obj, k + offset, logged=k % 2 == 1) for k in range(steps)] + [face.snapshot(obj)]


@pytest.mark.parametrize("face", FACES, ids=str)
def test_own_objects_match_serial(face):
    steps = STEPS if not face.fleet else STEPS // 3
    serial = [trajectory(face, 100 * i, steps) for i in range(THREADS)]
    results = [None] * THREADS

    def worker(i):
        def run():
            results[i] = trajectory(face, 100 * i, steps)
        return run

    run_threads([worker(i) for i in range(THREADS)])
    assert results == serial


def reading(face, obj):
    """The whole state in one call, so that no step falls between two parts of it."""
    if face.family == "siso":
        return pickle.dumps(_vorn_fleet._full_state(obj))
    return pickle.dumps(obj.get_phi() if face.family == "mimo" else obj.__getstate__())


def readers(face, obj):
    calls = [lambda: reading(face, obj), obj.get_phi, lambda: repr(obj)]
    if face.pickles:
        calls += [obj.__getstate__, obj.__getnewargs__]
    if face.family == "mimo":
        calls.append(lambda: obj.dim)
    if face.fleet:
        calls += [lambda: len(obj), lambda: obj[len(obj) - 1]]
    return calls


def _u(result):
    """The input a step returned, from its record when it returned one."""
    u = result[0] if isinstance(result, tuple) else result
    return pickle.dumps(u.tolist() if hasattr(u, "tolist") else u)


def shared(face, members=None):
    """Every thread steps the same object with the same inputs (logged and plain steps
    mixed), so however the steps interleave, the n-th accepted step must return what the
    n-th serial step returns, and every reading must show a state of the serial run."""
    if members is None:
        make = lambda: _limited(face)  # noqa: E731
        y, yd = face.inputs(0)
        per_writer = STEPS
    else:
        limits = {"u_min": -2.0, "u_max": 2.0} if face.limits else {}
        make = lambda: face.cls(members, *face.lead[1:], **limits)  # noqa: E731
        y, yd = face.inputs(0)
        y = y[:1].repeat(members, axis=0)
        yd = yd if face.mimo else yd[:1].repeat(members)  # a MIMO fleet's is one (dim,) for all
        # A step of so many members is slow under the sanitizers; a few still overlap.
        per_writer = 6 if SANITIZED else max(STEPS // 10, 20)

    def step(o, logged):
        return _u(o.update_logged(y, yd) if logged and face.logged else o.update(y, yd))

    writers = THREADS // 2
    reference = make()
    serial_results, serial_states = [], {reading(face, reference)}
    for _ in range(writers * per_writer):
        serial_results.append(step(reference, False))
        serial_states.add(reading(face, reference))

    obj = make()
    got, seen, conflicts = [], [], []

    def writer():
        for k in range(per_writer):
            while True:
                try:
                    got.append(step(obj, k % 2 == 1))
                    break
                except RuntimeError as e:  # the access was taken: try again
                    conflicts.append(str(e))

    def reader():
        calls = readers(face, obj)
        for k in range(per_writer):
            try:
                value = calls[k % len(calls)]()
            except RuntimeError as e:
                conflicts.append(str(e))
                continue
            if k % len(calls) == 0:
                seen.append(value)

    run_threads([writer] * writers + [reader] * (THREADS - writers))
    assert set(conflicts) <= CONFLICTS
    assert sorted(got) == sorted(serial_results), "a step was lost, repeated or torn"
    assert face.snapshot(obj) == face.snapshot(reference)
    assert set(seen) <= serial_states, "a reading showed a state no serial run passes through"


@pytest.mark.parametrize("face", FACES, ids=str)
def test_shared_object(face):
    shared(face)


@pytest.mark.parametrize("face", [f for f in FACES if f.fleet], ids=str)
def test_shared_fleet_without_the_lock(face):
    shared(face, members=1 << 14)
