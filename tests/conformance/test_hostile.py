"""Hostile arguments over every face: buffers of every kind convert as their items do;
conversions that raise, that call back into the object or that change other arguments
leave the object as it was (or, when the call goes through, as a plain call leaves it);
state dicts and keyword dicts emptied while they are read are held until the end. Whatever
could kill the interpreter runs in a subprocess."""

import os
import pathlib
import pickle
import subprocess
import sys
import textwrap

import numpy as np
import pytest

from tests.buffer_kinds import VECTOR_KINDS, plain
from tests.conformance.faces import FACES, PICKLING, Face, calls
from tests.running import time_limit

pytestmark = pytest.mark.filterwarnings("ignore:Warning. converting a masked element:UserWarning")
ROOT = pathlib.Path(__file__).resolve().parents[2]
CONFLICTS = {"Already borrowed", "Already mutably borrowed"}


def isolated(code, **kwargs):
    """Runs `code` in a fresh interpreter that imports the test helpers by their names here."""
    prelude = f"import sys; sys.path.insert(0, {str(ROOT)!r})\nimport warnings; warnings.simplefilter('ignore')\n"
    return subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=time_limit(120), **kwargs)


def outcome(face, call, args):
    obj = face.make()
    try:
        result = getattr(obj, call)(*args)
        return "ok", pickle.dumps(np.asarray(result).tolist() if result is not None else None), face.snapshot(obj)
    except Exception as e:  # noqa: BLE001 - compared by type and message
        return type(e).__name__, str(e)


# A fleet refuses every masked array (it asks for np.ma.filled instead of guessing), and
# bytes are characters to it, not numbers.
FLEET_REFUSES = {"masked", "masked-unmasked", "bytes"}


def _vector_positions(face, obj):
    for call, args in calls(face, obj).items():
        for i, a in enumerate(args):
            if isinstance(a, (list, np.ndarray)) and np.asarray(a).ndim == 1:
                yield call, args, i


@pytest.mark.parametrize("face", [f for f in FACES if f.family != "mimo"], ids=str)
@pytest.mark.parametrize("kind", VECTOR_KINDS, ids=str)
def test_buffers_convert_as_their_items(face, kind):
    make = VECTOR_KINDS[kind]
    for call, args, i in _vector_positions(face, face.make()):
        for values in (list(np.asarray(args[i], dtype=float)), [], [0.5] * (len(args[i]) + 1)):
            given = make(values)
            got = outcome(face, call, args[:i] + (given,) + args[i + 1:])
            if face.fleet and kind in FLEET_REFUSES:
                assert got[0] == "TypeError", (call, got)
                continue
            want = outcome(face, call, args[:i] + (plain(make(values)),) + args[i + 1:])
            assert got == want, (call, values)


class Boom(Exception):
    pass


class Raising:
    """A number, an index and a sequence whose every conversion fails."""

    def __float__(self):
        raise Boom

    __index__ = __float__

    def __len__(self):
        raise Boom

    def __array__(self, dtype=None, copy=None):
        raise Boom


class CallingBack:
    """A value whose conversion calls into the object being driven first; what the inner
    calls raised is kept."""

    def __init__(self, obj, value):
        self.obj, self.value, self.inner = obj, value, []

    def _back(self):
        for inner in (self.obj.get_phi, self.obj.reset, lambda: self.obj.set_eta(1.5)):
            try:
                inner()
                self.inner.append(None)
            except RuntimeError as e:
                self.inner.append(str(e))

    def __float__(self):
        self._back()
        return float(self.value)

    def __array__(self, dtype=None, copy=None):
        self._back()
        return np.asarray(self.value, dtype=dtype)

    def __len__(self):
        self._back()
        return len(self.value)

    def __getitem__(self, i):
        return self.value[i]


def _running(face: Face):
    obj = face.make()
    for k in range(3):
        face.step(obj, k)
    return obj


@pytest.mark.parametrize("face", FACES, ids=str)
def test_failing_conversions_name_their_parameter_and_change_nothing(face):
    import inspect
    obj = _running(face)
    for call, args in calls(face, obj).items():
        names = list(inspect.signature(getattr(obj, call)).parameters)
        for i in range(len(args)):
            before = face.snapshot(obj)
            # A sequence parameter refuses what is no sequence before asking it anything.
            with pytest.raises((Boom, TypeError)) as info:
                getattr(obj, call)(*args[:i], Raising(), *args[i + 1:])
            assert f"while processing '{names[i]}'" in getattr(info.value, "__notes__", []), (call, i)
            assert face.snapshot(obj) == before, (call, i)


@pytest.mark.parametrize("face", FACES, ids=str)
def test_conversions_that_call_back_are_refused_inside_and_the_call_goes_on(face):
    """The object's access is taken before the first conversion: every call back fails with
    the access state's message, and the call itself does what the plain call does."""
    obj, twin = _running(face), _running(face)
    for call, args in calls(face, obj).items():
        for i in range(len(args)):
            hostile = CallingBack(obj, args[i])
            got = getattr(obj, call)(*args[:i], hostile, *args[i + 1:])
            want = getattr(twin, call)(*args)
            assert hostile.inner and set(hostile.inner) <= CONFLICTS, (call, i, hostile.inner)
            assert pickle.dumps(got) == pickle.dumps(want), (call, i)
            assert face.snapshot(obj) == face.snapshot(twin), (call, i)


class Emptying:
    """An item of a list whose conversion empties that list (freeing the other items): the
    rest of the list is read as it is then, never from the memory it had."""

    def __init__(self, holder, value):
        self.holder, self.value = holder, value

    def __float__(self):
        self.holder.clear()
        return float(self.value)


@pytest.mark.parametrize("face", [f for f in FACES if f.family != "fleet"], ids=str)
def test_a_list_emptied_while_converted_is_read_as_it_was_or_refused(face):
    obj = _running(face)
    for call, args in calls(face, obj).items():
        for i, a in enumerate(args):
            if not isinstance(a, list) or not a or not isinstance(a[0], float):
                continue
            holder = list(a)
            holder[0] = Emptying(holder, a[0])
            before = face.snapshot(obj)
            try:
                getattr(obj, call)(*args[:i], holder, *args[i + 1:])
            except (ValueError, TypeError, IndexError):
                assert face.snapshot(obj) == before, call
                continue
            # Accepted: as the list was, or as what was left of it (the item converted).
            twins = []
            for read in (a, a[:1]):
                twin = _running(face)
                try:
                    getattr(twin, call)(*args[:i], read, *args[i + 1:])
                except ValueError:
                    continue
                twins.append(face.snapshot(twin))
            assert face.snapshot(obj) in twins, call
            obj = _running(face)


# --- fleets: conversions that move another argument's memory ---------------------------

class Reallocating:
    """A float, an array and a buffer in one: each conversion first reallocates `victim`'s
    memory (numpy lets refcheck=False move memory whose buffer is exported), to `size`
    items, or away and back when size is None."""

    def __init__(self, victim, value, size=None):
        self.victim, self.value, self.size = victim, value, size

    def _move(self):
        shape = self.victim.shape
        self.victim.resize(4096, refcheck=False)
        self.victim.resize(self.size if self.size is not None else shape, refcheck=False)

    def __float__(self):
        self._move()
        return float(self.value)

    def __array__(self, dtype=None, copy=None):
        self._move()
        return np.array(self.value, dtype=dtype)

    def __buffer__(self, flags):
        self._move()
        return memoryview(self.value)

    def __len__(self):
        return len(self.value)


# Every entry point of several arguments, every position another argument's conversion can
# reach: (call, the argument moved, the argument whose conversion moves it). Arguments are
# converted left to right, so every pair is listed, not only the later one.
FLEET_MOVES = [(call, victim, hostile) for call, names in [
    ("update", ("y", "yd")), ("update_out", ("y", "yd", "out")), ("update_logged", ("y", "yd")),
] for victim in names for hostile in names if victim != hostile]


def fleet_call(fleet, call, args):
    if call == "update_out":
        result = fleet.update(args["y"], args["yd"], out=args["out"])
        return np.array(result, copy=True)
    return getattr(fleet, call)(args["y"], args["yd"])


def fleet_args(shape):
    size = int(np.prod(shape))
    # Arrays that own their memory, so that a conversion can move it.
    return {"y": np.linspace(-0.5, 0.5, size).reshape(shape).copy(),
            "yd": np.linspace(1.0, 2.0, size).reshape(shape).copy(), "out": np.zeros(shape)}


@pytest.mark.parametrize("face, call, victim, hostile", [
    (face, *move) for face in FACES if face.fleet for move in FLEET_MOVES if move[0] != "update_logged" or face.logged
], ids=lambda v: v if isinstance(v, str) else str(v))
@pytest.mark.parametrize("size", [None, 4096], ids=["moved back", "resized"])
def test_fleet_arguments_reallocated_by_another_conversion(face, call, victim, hostile, size):
    """The step reads each argument as it is after every conversion: the same values bit
    for bit when only its memory moved, a ValueError naming the new shape when it was
    resized, never the memory it had before."""
    n = 5
    shape = (n, *face.lead[1:])
    args = fleet_args(shape)
    unmoved = {k: v.copy() for k, v in args.items()}
    args[hostile] = Reallocating(args[victim], args[hostile], size)
    fleet, twin = face.cls(*shape), face.cls(*shape)
    before = pickle.dumps(fleet.__getstate__())
    if size is None:
        got = fleet_call(fleet, call, args)
        want = fleet_call(twin, call, unmoved)
        assert pickle.dumps(got) == pickle.dumps(want)
        assert pickle.dumps(fleet.__getstate__()) == pickle.dumps(twin.__getstate__())
    else:
        expected = str(shape).replace("(", r"\(").replace(")", r"\)")
        with pytest.raises(ValueError, match=rf"{victim} has shape \(4096,\), expected {expected}"):
            fleet_call(fleet, call, args)
        assert pickle.dumps(fleet.__getstate__()) == before


# --- dicts emptied while they are read ---------------------------------------------------

CLEARED_STATE_CHECK = """
import gc, pickle, numpy as np
from tests.conformance.faces import PICKLING

class Clearing:
    # A state value whose every conversion empties the dict that holds it (freeing the
    # other values) before it answers.
    def __init__(self, d, value):
        self.d, self.value = d, value
    def _clear(self):
        self.d.clear(); gc.collect()
    @property
    def __class__(self):
        self._clear(); return Clearing
    def __array__(self, dtype=None, copy=None):
        self._clear(); return np.array(self.value, dtype=dtype)
    def __float__(self):
        self._clear(); return float(self.value)
    def __len__(self):
        self._clear(); return len(self.value)
    def __getitem__(self, i):
        return self.value[i]
    def __iter__(self):
        self._clear(); return iter(self.value)
    def __index__(self):
        self._clear(); return int(self.value)

def fresh(v):
    return np.array(v, copy=True) if isinstance(v, np.ndarray) else list(v) if isinstance(v, list) else v

for face in PICKLING:
    source = face.make()
    for key in source.__getstate__():
        d = {k: fresh(v) for k, v in source.__getstate__().items()}
        d[key] = Clearing(d, d[key])
        target = face.cls(*source.__getnewargs__())
        try:
            target.__setstate__(d)
        except (TypeError, ValueError, KeyError):
            pass
        target.get_phi()
print("held")
"""


def test_setstate_holds_every_value_while_converting():
    r = isolated(CLEARED_STATE_CHECK, env=dict(os.environ, PYTHONDEVMODE="1"))
    assert r.returncode == 0 and r.stdout.strip().endswith("held"), r.stderr[-3000:]


KEYWORD_DICT_CHECK = """
import ctypes, gc
from tests.conformance.faces import FACES

call = ctypes.pythonapi.PyObject_Call
call.restype = ctypes.py_object
call.argtypes = [ctypes.py_object] * 3

class Clearing:
    # A keyword value whose conversion empties the caller's own keyword dict.
    def __init__(self, d, value):
        self.d, self.value = d, value
    def __float__(self):
        self.d.clear(); gc.collect(); return float(self.value)
    def __index__(self):
        self.d.clear(); gc.collect(); return int(self.value)

class Number:
    def __init__(self, value):
        self.value = value
    def __float__(self):
        return self.value

# Constructors receive the caller's dict as it is when called from C.
for face in FACES:
    for first in ("eta", "mu"):
        # Values of a class of their own: freed, their memory is poisoned, not recycled.
        d = {k: Number(v) for k, v in {"eta": 1.0, "mu": 1.0, "rho": 0.5, "lambda_": 0.5, "eps": 1e-5}.items()}
        d[first] = Clearing(d, 1.0)
        obj = call(face.cls, face.lead, d)
        assert "rho=0.5000" in repr(obj) if face.family == "siso" else obj.get_phi() is not None
print("held")
"""


def test_constructors_hold_the_keyword_values_of_the_callers_dict():
    r = isolated(KEYWORD_DICT_CHECK, env=dict(os.environ, PYTHONDEVMODE="1"))
    assert r.returncode == 0 and r.stdout.strip().endswith("held"), r.stderr[-3000:]
