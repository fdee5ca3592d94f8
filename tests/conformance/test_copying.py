"""Pickling and copying over every face: a copy made in the middle of a run shows the same
state and continues bit for bit as the original, reset values included; the MIMO classes
refuse to be pickled or copied and stay usable."""

import copy
import pickle

import pytest

from tests.conformance.faces import FACES, PICKLING, Face

WAYS = {
    **{f"pickle{p}": (lambda o, p=p: pickle.loads(pickle.dumps(o, protocol=p))) for p in range(2, 6)},
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
    "reduce_ex": lambda o: copy._reconstruct(o, None, *o.__reduce_ex__(4)),
}


def _running(face: Face):
    """An object some samples into a run, with an estimate and a reset value of its own."""
    orders = face.orders[-1] if face.orders else {}
    obj = face.make(**orders, u_min=-3.0) if face.limits else face.make(**orders)
    for k in range(7):
        face.step(obj, k)
    if face.family == "mimo":
        return obj
    obj.set_initial_phi(0.75 if face.form == "cfdl" or face.mimo else [0.75] * face.width(obj))
    face.step(obj, 7)
    if face.family == "siso":
        # A single's state carries the estimate, which a restore makes the reset value too:
        # the two are aligned first.
        obj.set_phi_hat(obj.get_phi())
    return obj


@pytest.mark.parametrize("face", PICKLING, ids=str)
@pytest.mark.parametrize("way", WAYS.values(), ids=WAYS.keys())
def test_copies_continue_bit_for_bit(face, way):
    original = _running(face)
    twin = way(original)
    assert type(twin) is type(original) and twin is not original
    assert face.snapshot(twin) == face.snapshot(original)
    for k in range(8, 20):
        logged = k % 2 == 0
        assert face.step(twin, k, logged) == face.step(original, k, logged), k
        if k == 13:  # the reset value travelled with the copy
            twin.reset()
            original.reset()
    assert face.snapshot(twin) == face.snapshot(original)


@pytest.mark.parametrize("face", PICKLING, ids=str)
def test_a_copy_is_independent(face):
    original = _running(face)
    before = face.snapshot(original)
    twin = copy.deepcopy(original)
    for k in range(5):
        face.step(twin, k)
    twin.set_eta(0.25)
    assert face.snapshot(original) == before


@pytest.mark.parametrize("face", [f for f in FACES if not f.pickles], ids=str)
@pytest.mark.parametrize("way", WAYS.values(), ids=WAYS.keys())
def test_mimo_objects_refuse_to_be_copied(face, way):
    obj = _running(face)
    before = face.snapshot(obj)
    with pytest.raises(TypeError):
        way(obj)
    assert face.snapshot(obj) == before
    face.step(obj, 0)


@pytest.mark.parametrize("face", PICKLING, ids=str)
def test_setstate_restores_a_state_taken_elsewhere(face):
    """A fresh object given a running one's state (and arguments) is that object again."""
    original = _running(face)
    target = face.cls(*original.__getnewargs__())
    target.__setstate__(original.__getstate__())
    assert face.snapshot(target) == face.snapshot(original)
    assert [face.step(target, k) for k in range(6)] == [face.step(original, k) for k in range(6)]
