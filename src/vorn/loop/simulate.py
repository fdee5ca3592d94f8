"""simulate.py: closing a loop between any controller and any plant.

    simulate(controller, plant, setpoint, *, noise=0.0, disturbance=None, seed=None,
             spread=0.0, limit=1e6, start="plant") -> vorn.loop.run.Run
    schedule(plant, steps) -> ndarray       a built-in plant's square-wave set point

`controller`: one of the six controller classes, a fleet (anything with `len()` whose
`update(y, yd)` takes and returns arrays of `len()` values, such as `vorn.PID(..., n=…)`), or
any object with `update(y, yd)`: on a MIMO plant (one with `dim` > 1), or when the object has
a `dim` itself, it gets and returns vectors of the plant's dimension. On a MIMO plant a fleet
(a MIMO fleet, or anything with `len()`) gets and returns arrays of shape (n, dim), and
`vorn.PID(..., n=dim)` is a decentralised PID: one independent loop per channel, its gains
and limits scalars or one per channel. `plant`: an object following `vorn.plants.Plant`, or a
built-in plant's name. `setpoint`: an array whose length is the number of steps, of shape
(steps,), (steps, n) for a fleet, (steps, dim) for a MIMO plant or (steps, n, dim) for a
fleet on one; or a number of steps, for the built-in plant's own square wave (levels lasting
120 samples). The run's arrays are (steps, n), or (steps, n, dim) on a MIMO plant.

The loop (vorn.loop.engine, stopping on divergence): y = plant.reset(n); for each k,
u = controller.update(y, yd[k]); y = plant.step(u).
A fleet advances the whole batch with one controller call and one plant call per sample; when
its `update` takes `out=`, it writes the inputs straight into the run's record. The plant and
the controller are handed copies, so the run records what was measured and applied even when
a plant scales its input in place.

`start`: "plant" (the default) starts a controller at the plant's initial output, its
`reset` value, through `vorn.start` (bumpless at a plant resting away from zero; nothing changes
where the plant rests at zero, as the built-in plants do); None keeps the controller's own
start at zero. A user's own controller keeps its own past. The MIMO classes and fleets
cannot be started (their previous outputs cannot be set): at a plant resting away from zero
they are refused with that reason; give start=None or run in deviation variables.

`noise` (standard deviation of Gaussian measurement noise), `disturbance` ((size, sample): a
load step added to the plant's input from that sample on) and `spread` (coefficient spread
across copies, built-in plants only) are drawn from `numpy.random.default_rng(seed)`, so a run
with a seed repeats exactly. A member whose output leaves [-limit, limit] or becomes infinite
has diverged: it is flagged, its measures stop there, and the run stops when every member
has diverged, keeping what it computed.

Refused with a clear error: a set point of the wrong length or shape, a plant output of the
wrong shape, a NaN output for a finite input, a complex value from the caller, the plant or
the controller; an exception raised by the plant or the
controller propagates with a note naming the sample.
"""

from __future__ import annotations

import inspect
import math
from typing import Any

import numpy as np

import vorn._vorn_core as core
import vorn.plants as builtin
from vorn.forms import MIMO
from vorn.loop.engine import run_loop
from vorn.loop.pid import PID
from vorn.loop.start import check_start, start_at_plant
from vorn.loop.run import Run
from vorn.values import ComplexValueError, real_array

HOLD = 120  # samples per level of the built-in square waves
MIMO_CLASSES = tuple(f.single for f in MIMO.values())
MIMO_FLEETS = tuple(f.fleet for f in MIMO.values() if f.fleet is not None)


def schedule(plant: Any, steps: int) -> np.ndarray:
    """The square wave of a built-in plant (an instance or a name): its levels in turn, each
    held for 120 samples; shape (steps,), or (steps, dim) with channel c starting at level c."""
    cls = builtin.plant_class(plant) if isinstance(plant, str) else plant
    levels = getattr(cls, "levels", None)
    if levels is None:
        raise TypeError("a number of steps as set point needs a built-in plant; give an array of set points")
    index = (np.arange(steps) // HOLD) % len(levels)
    dim = getattr(cls, "dim", 1)
    if dim == 1:
        return np.asarray(levels, dtype=float)[index]
    return np.stack([np.roll(np.asarray(levels, dtype=float), -c)[index] for c in range(dim)], axis=1)


def _steps(value: Any) -> int:
    if isinstance(value, bool) or value < 1:
        raise ValueError(f"the number of steps must be at least 1, not {value!r}")
    return int(value)


def _kind(controller: Any) -> tuple[str, int]:
    """('mimo' | 'single' | 'batch', members)."""
    if isinstance(controller, MIMO_CLASSES):
        return "mimo", 1
    if not callable(getattr(controller, "update", None)):
        raise TypeError(f"{type(controller).__name__} has no update(y, yd) method")
    if isinstance(controller, PID) and controller._scalar:
        return "single", 1
    if hasattr(controller, "__len__"):
        n = len(controller)
        if n < 1:
            raise ValueError("the fleet has no members")
        return "batch", n
    return "single", 1


def _setpoint(setpoint: np.ndarray, steps: int, n: int, dim: int | None) -> np.ndarray:
    """The set point as (steps,), (steps, width) or, member by member on a MIMO plant,
    (steps, n, dim), checked against the run's shape."""
    if setpoint.ndim == 1:
        out = setpoint
    elif setpoint.ndim == 3 and dim is not None:
        if setpoint.shape[1:] != (n, dim):
            raise ValueError(f"the set point has shape {setpoint.shape}; expected (steps, {n}, {dim}), "
                             f"one row per member and a column per channel")
        out = setpoint
    elif setpoint.ndim == 2:
        width = dim if dim is not None else n
        if setpoint.shape[1] != width:
            what = f"the plant's dimension {dim}" if dim is not None else f"the {n} members"
            raise ValueError(f"the set point has {setpoint.shape[1]} columns; expected {what}")
        out = setpoint[:, 0] if dim is None and n == 1 else setpoint
    else:
        raise ValueError(f"the set point must have shape (steps,) or (steps, n|dim), not {setpoint.shape}")
    if dim is not None and out.ndim == 1:
        out = np.repeat(out[:, None], dim, axis=1)
    if not np.isfinite(out).all():
        raise ValueError("the set point must be finite")
    return np.ascontiguousarray(out, dtype=float)


def simulate(controller: Any, plant: Any, setpoint: Any, *, noise: float = 0.0,
             disturbance: tuple[float, int] | None = None, seed: Any = None,
             spread: float = 0.0, limit: float = 1e6, start: str | None = "plant") -> Run:
    """Runs `controller` against `plant` along `setpoint`; see the module's docstring."""
    start = check_start(start)
    limit = float(limit)
    if not limit > 0.0:
        raise ValueError(f"limit must be a positive number, not {limit}")
    rng = np.random.default_rng(seed)
    if isinstance(setpoint, (int, np.integer)) and not isinstance(setpoint, bool):
        steps = _steps(setpoint)
        target = plant if isinstance(plant, (str, builtin.BenchmarkPlant)) else None
        if target is None:
            raise TypeError("a number of steps as set point needs a built-in plant; give an array of set points")
        yd = schedule(target if isinstance(target, str) else type(target), steps)
    else:
        yd = real_array(setpoint, "the set point")
        if yd.ndim == 0 or len(yd) == 0:
            raise ValueError("the set point must be an array with one entry per step (or a number of steps)")
        steps = len(yd)
    declared = getattr(plant, "dim", None)  # read before a wrapper hides it
    if isinstance(plant, str):
        plant = builtin.make(plant, steps, noise=noise, disturbance=disturbance, spread=spread, rng=rng)
        declared = plant.dim
    elif noise or disturbance is not None or spread:
        if spread:
            raise ValueError("spread varies the coefficients of a built-in plant: give the plant by name")
        plant = builtin.Perturbed(_Resting(plant), noise=noise, disturbance=disturbance, rng=rng)
    kind, n, dim = _shape(controller, declared)
    label = type(controller).__name__
    plant_name = getattr(plant, "name", type(plant).__name__)
    if kind == "single" and isinstance(plant, builtin.BenchmarkPlant) and plant.dim == 1:
        yd = _setpoint(yd, steps, 1, None)
        return _run_floats(controller, plant, yd, limit, label, plant_name, start)
    if kind == "mimo" and dim is None:
        dim = int(np.shape(plant.reset(1))[-1])  # a user's MIMO plant without a `dim`
    if kind == "mimo" and isinstance(controller, PID) and controller.n != dim:
        raise ValueError(f"a decentralised PID on a plant of dimension {dim} needs n={dim}, one loop "
                         f"per channel, not n={controller.n}")
    yd = _setpoint(yd, steps, n, dim)
    return _run_arrays(controller, kind, n, dim, plant, yd, limit, label, plant_name, start)


def _shape(controller: Any, declared: Any) -> tuple[str, int, int | None]:
    """(kind, members, channels) of a run: channels None on a SISO plant. On a MIMO plant (a
    `dim` above 1) a single controller gets and returns vectors of the plant's dimension (a
    MIMO class, a user's own object, or a PID of n = dim loops, one per channel), and a batch
    (a MIMO fleet, or a user's object with `len()`) arrays of shape (members, dim)."""
    kind, n = _kind(controller)
    mimo_plant = (declared or 1) > 1
    if isinstance(controller, PID):
        if mimo_plant:
            return "mimo", 1, int(declared)  # decentralised: n must be the plant's dimension
        return kind, n, None
    if kind == "mimo" or (kind == "single" and (getattr(controller, "dim", None) is not None or mimo_plant)):
        return "mimo", 1, declared
    if kind == "batch" and (mimo_plant or isinstance(controller, MIMO_FLEETS)):
        dim = int(declared) if mimo_plant else int(controller.get_phi().shape[-1])
        return kind, n, dim
    return kind, n, None


class _Resting:
    """A user's plant that remembers its own initial output, before any measurement noise."""

    def __init__(self, plant: Any) -> None:
        self.plant = plant
        self.name = getattr(plant, "name", type(plant).__name__)
        self.rest: Any = 0.0

    def reset(self, n: int) -> Any:
        self.rest = self.plant.reset(n)
        return self.rest

    def step(self, u: Any) -> Any:
        return self.plant.step(u)


def _rest(plant: Any, measured: Any) -> Any:
    """Where the plant rests before the first sample: its own initial output, not a noisy
    reading of it (the built-in plants rest at zero)."""
    if isinstance(plant, builtin.BenchmarkPlant):
        return 0.0
    inner = getattr(plant, "plant", None)
    return inner.rest if isinstance(inner, _Resting) else measured


def _diverged(y: float, u: float, k: int) -> None:
    """Raises for a NaN output after a finite input: the plant's fault, not the loop's."""
    if math.isnan(y) and math.isfinite(u):
        raise ValueError(f"the plant returned NaN at sample {k} for the finite input {u!r}")


def _run_floats(controller: Any, plant: builtin.BenchmarkPlant, yd: np.ndarray, limit: float,
                label: str, plant_name: str, start: str | None) -> Run:
    """One SISO controller on a built-in plant in its scalar mode: plain floats throughout."""
    steps = len(yd)
    update, step = controller.update, plant.step
    first = isinstance(controller, core.CFDLController)  # its update returns a 5-tuple
    targets = yd.tolist()
    ys = [0.0] * steps
    us = [0.0] * steps
    y = plant.reset()
    k = 0
    diverged = False
    try:
        if start == "plant":
            start_at_plant(controller, _rest(plant, y))
        for k in range(steps):
            u = update(y, targets[k])
            if first:
                u = u[0]
            ys[k] = y
            us[k] = u
            y = step(u)
            if not -limit <= y <= limit:
                _diverged(y, u, k)
                diverged = True
                break
    except Exception as error:
        error.add_note(f"while simulating sample {k} of {label} on the {plant_name} plant")
        raise
    seen = k + 1 if steps else 0
    return Run(label, plant_name, yd[:seen, None].copy(), np.array(ys[:seen])[:, None],
               np.array(us[:seen], dtype=float)[:, None], np.array([seen]),
               np.array([diverged]), HOLD)


def _takes_out(update: Any) -> bool:
    """Whether a batch's update writes into a given array (`out=`), as the fleets do."""
    try:
        return "out" in inspect.signature(update).parameters
    except (TypeError, ValueError):
        return False


def _checked(value: Any, shape: tuple[int, ...], k: int, who: str = "the plant") -> np.ndarray:
    """What `who` returned at sample k, as a float64 array of `shape`."""
    try:
        out = real_array(value, f"{who}'s output at sample {k}")
    except ComplexValueError:
        raise
    except (TypeError, ValueError) as error:
        raise TypeError(f"{who} returned {type(value).__name__} at sample {k}; expected an array "
                        f"of shape {shape}") from error
    if out.shape != shape:
        raise ValueError(f"{who} returned shape {out.shape} at sample {k}; expected {shape}")
    return out


def _run_arrays(controller: Any, kind: str, n: int, dim: int | None, plant: Any, yd: np.ndarray,
                limit: float, label: str, plant_name: str, start: str | None) -> Run:
    """The protocol's loop over arrays: (steps, n) records, or (steps, n, dim) on a MIMO plant."""
    steps = len(yd)
    shape = (n,) if dim is None else (n, dim)
    update = controller.update
    takes_out = kind == "batch" and _takes_out(update)
    first = isinstance(controller, core.CFDLController)
    own = isinstance(controller, MIMO_CLASSES)
    per_step = yd.ndim == 1
    targets = yd.tolist() if per_step else yd

    # Controller and plant get copies: the record keeps what was measured and applied,
    # whatever a callee does to its argument in place.
    def act(y: np.ndarray, k: int, u: np.ndarray) -> None:
        r = targets[k]
        if kind == "batch":
            if takes_out:
                update(y, r, out=u)
            else:
                u[...] = real_array(update(y, r), f"{label}'s output at sample {k}")
        elif kind == "mimo":
            out = update(y[0], r)
            u[0] = out if own else _checked(out, u[0].shape, k, f"{label}")
        else:
            out = update(float(y[0]), r if per_step else float(r[0]))
            u[0] = real_array(out[0] if first else out, f"{label}'s output at sample {k}")

    loop = run_loop(act, plant, yd, shape, lambda value, k, what: _checked(value, shape, k), limit=limit,
                    note=lambda k: f"while simulating sample {k} of {label} on the {plant_name} plant",
                    begin=(lambda y: start_at_plant(controller, _rest(plant, y))) if start == "plant" else None)
    stop = loop.stop
    # The set point is recorded as a read-only view, broadcast over the members.
    records = yd[:stop, None] if per_step or (dim is not None and yd.ndim == 2) else yd[:stop]
    records = np.broadcast_to(records if dim is None or records.ndim == 3 else records[:, :, None], loop.y.shape)
    return Run(label, plant_name, records, loop.y, loop.u, loop.samples, loop.diverged, HOLD)
