"""engine.py: the one closed loop that `simulate` and the tuner both run: many members advanced
together, one controller call and one plant call per sample.

    run_loop(act, plant, yd, shape, outputs, *, limit, freeze=False, noise=None) -> Loop

The loop: y = plant.reset(n); for each k, act(measured y, k, into u); y = plant.step(u).
`shape` is (n,), or (n, dim) for MIMO members: the records are (steps, *shape), and a member
is judged over all its channels. A member whose output leaves [-limit, limit] (or is not
finite) after step k has diverged: it saw k + 1 samples. What happens then is the caller's option:

- stop (simulate): the member runs on, its measures end there, and the loop ends when every
  member has diverged; a NaN output for a finite input is the plant's fault and raises.
- freeze (the tuner): every input and output is checked, the reset output too, and a member
  that went is frozen (its plant input held at 0, its controller fed its set point) so that it
  cannot spread non-finite numbers; a non-finite input at sample k means it saw k samples.

`noise`, if given, has the records' shape and is added to every measurement the controllers
see; the record keeps the plant's own output. The tuner's banks (a fleet, a vectorised PID, or
a row of single controllers, each owning a contiguous slice of the plant's copies) are held
behind one `act` by `closed_loop`.
"""

from __future__ import annotations

import inspect
import itertools
from dataclasses import dataclass
from typing import Any, Callable, Sequence

import numpy as np

from vorn.loop.metrics import DIVERGED
from vorn.loop.run import Run
from vorn.loop.start import start_at_plant
from vorn.values import ComplexValueError, real_array

# act(y, k, u): the controllers' inputs for sample k written into u, from the measured y.
Act = Callable[[np.ndarray, int, np.ndarray], None]
# outputs(value, k, what): what the plant returned ("reset" or "step"), checked, as an array.
Outputs = Callable[[Any, int, str], np.ndarray]


@dataclass
class Loop:
    """What a closed loop recorded: outputs and inputs, (stop, *shape) each, the samples each
    member saw before it diverged, and which members did."""

    y: np.ndarray
    u: np.ndarray
    samples: np.ndarray
    diverged: np.ndarray
    stop: int


def _bad_members(bad: np.ndarray) -> np.ndarray:
    """Per member, whether any of its channels is bad."""
    return bad if bad.ndim == 1 else bad.any(axis=1)


def run_loop(act: Act, plant: Any, yd: np.ndarray, shape: tuple[int, ...], outputs: Outputs, *,
             limit: float, freeze: bool = False, noise: np.ndarray | None = None,
             note: Callable[[int], str] | None = None,
             begin: Callable[[np.ndarray], None] | None = None,
             buffers: tuple[np.ndarray, np.ndarray] | None = None) -> Loop:
    """Runs the loop described in the module's docstring for len(yd) samples; `yd` is indexed
    by sample and, when freezing, broadcasts against the members' outputs. `begin`, if given,
    is called with the plant's initial output before the first sample (to start the
    controllers there); `note(k)` is added to an error raised at sample k.

    By default `act` is handed a fresh array of measurements at every sample, which it may
    keep. With `buffers` (two float64 arrays of `shape`), it is handed those two instead,
    overwritten at every sample: the measurements and the row its inputs go into. That is
    for an act that keeps neither and has made its views of them beforehand."""
    steps = len(yd)
    n = shape[0]
    Y = np.empty((steps, *shape)) if freeze else np.zeros((steps, *shape))
    U = np.empty((steps, *shape)) if freeze else np.zeros((steps, *shape))
    samples = np.full(n, steps)
    diverged = np.zeros(n, dtype=bool)
    magnitude = np.empty(shape)
    inside = np.empty(shape, dtype=bool)
    frozen = False
    # The members' flags against their channels: diverged[:, None, ...] views, not copies.
    held = diverged.reshape(n, *(1,) * (len(shape) - 1))
    k = 0
    stop = steps
    try:
        with np.errstate(all="ignore"):
            y = outputs(plant.reset(n), 0, "reset")
            if freeze:
                frozen = _freeze(_bad_members(~(np.abs(y) <= limit)), diverged, samples, 0)
            if begin is not None:
                begin(y)
            for k in range(steps):
                if frozen:
                    y = np.where(held, yd[k], y)
                Y[k] = y
                if buffers is None:
                    seen, row = (Y[k].copy() if noise is None else Y[k] + noise[k]), U[k]
                else:
                    seen, row = buffers
                    if noise is None:
                        np.copyto(seen, y)
                    else:
                        np.add(y, noise[k], out=seen)
                if frozen:
                    np.copyto(seen, yd[k], where=held)
                act(seen, k, row)
                if freeze and not np.isfinite(row).all():
                    frozen = _freeze(_bad_members(~np.isfinite(row)) & ~diverged, diverged, samples, k)
                if frozen:
                    np.copyto(row, 0.0, where=held)
                if buffers is not None:
                    U[k] = row
                y = outputs(plant.step(row.copy()), k, "step")
                np.less_equal(np.abs(y, out=magnitude), limit, out=inside)
                if inside.all():
                    continue
                fresh = _bad_members(~inside) & ~diverged
                if freeze:
                    frozen = _freeze(fresh, diverged, samples, k + 1)
                elif _stop(y, fresh, U[k], diverged, samples, k):
                    stop = k + 1
                    break
    except Exception as error:
        if note is not None:
            error.add_note(note(k))
        raise
    return Loop(Y[:stop].copy() if stop < steps else Y, U[:stop].copy() if stop < steps else U,
                np.minimum(samples, stop), diverged, stop)


def _freeze(fresh: np.ndarray, diverged: np.ndarray, samples: np.ndarray, seen: int) -> bool:
    """Marks the members in `fresh` diverged after `seen` samples; True (some are frozen now)."""
    samples[fresh] = seen
    diverged |= fresh
    return bool(diverged.any())


def _stop(y: np.ndarray, fresh: np.ndarray, u: np.ndarray, diverged: np.ndarray,
          samples: np.ndarray, k: int) -> bool:
    """Flags the members that left the band at sample k; True when none is left running.
    A NaN output for a finite input raises: the plant's fault, not the loop's."""
    nan_for_finite = _bad_members(np.isnan(y) & np.isfinite(u))
    culprit = np.flatnonzero(fresh & nan_for_finite)
    if culprit.size:
        i = int(culprit[0])
        raise ValueError(f"the plant returned NaN at sample {k} for a finite input (copy {i})")
    samples[fresh] = k + 1
    diverged |= fresh
    return bool(diverged.all())


class PlantError(ValueError):
    """The plant broke the protocol (wrong shape or type of its outputs)."""


class Singles:
    """A row of single controllers behind the batched update(y, yd) -> u of a fleet: one value
    per member, or one row of channels per member for MIMO controllers."""

    def __init__(self, controllers: Sequence[Any]) -> None:
        self.controllers = list(controllers)

    def __len__(self) -> int:
        return len(self.controllers)

    def update(self, y: np.ndarray, yd: Any) -> np.ndarray:
        """The inputs from the outputs and the set points: one per member, or one (a scalar,
        or a MIMO member's row of channels) for all."""
        u = np.empty(y.shape)
        points = np.asarray(yd, dtype=float)
        each = points.tolist() if points.shape == y.shape else itertools.repeat(points.tolist())
        for i, (c, yi, ri) in enumerate(zip(self.controllers, y.tolist(), each)):
            r = c.update(yi, ri)
            u[i] = r[0] if isinstance(r, tuple) else r
        return u


def _outputs(value: Any, k: int, what: str) -> np.ndarray:
    """The tuner's check of the plant's outputs: one real number per copy."""
    try:
        y = real_array(value, f"the plant's {what} output")
    except ComplexValueError as error:
        raise PlantError(str(error)) from None
    except (TypeError, ValueError) as error:
        raise PlantError(f"the plant's {what} returned {type(value).__name__}, not numbers: {error}") from None
    return y


def _writes_into(bank: Any) -> bool:
    """Whether the bank's update takes `out=` (the fleets and the PID do): its inputs are then
    written straight into the loop's row of inputs, with no array made per call."""
    try:
        return "out" in inspect.signature(bank.update).parameters
    except (TypeError, ValueError):
        return False


def closed_loop(banks: Sequence[Any], plant: Any, yd: np.ndarray, noise: np.ndarray | None = None,
                label: str = "candidates", start: str | None = "plant") -> Run:
    """Runs the members of `banks` (sizes adding up to yd's columns) on `plant` for yd's rows,
    freezing those that diverge: the Run of true outputs, set points and inputs, (steps,
    members) each, or (steps, members, dim) when yd has a channel axis. `noise`, if given, has
    yd's shape and is added to every measurement the banks see. With `start="plant"` every
    bank starts at the plant's initial output."""
    steps, n = yd.shape[:2]
    shape = yd.shape[1:]
    sizes = [len(b) for b in banks]
    if sum(sizes) != n:
        raise ValueError(f"the banks hold {sum(sizes)} members, the set point {n}")
    parts = [slice(a, b) for a, b in zip(np.cumsum([0] + sizes)[:-1].tolist(), np.cumsum(sizes).tolist())]
    # The loop hands act the same two rows at every sample, so each bank's views of them are
    # made once. A set point common to every member (broadcast along the members' axis, as
    # the tuner's is) reaches the banks as one value per sample: a scalar, or a MIMO
    # member's row of channels.
    seen_row, u_row = np.empty(shape), np.empty(shape)
    common = n > 0 and yd.strides[1] == 0
    targets: Any = (yd[:, 0].tolist() if yd.ndim == 2 else list(yd[:, 0])) if common else yd
    views = [(bank.update, seen_row[part], u_row[part], part, _writes_into(bank)) for bank, part in zip(banks, parts)]

    def act(seen: np.ndarray, k: int, u: np.ndarray) -> None:
        target = targets[k]
        for update, y_part, u_part, part, into in views:
            point = target if common else target[part]
            if into:
                update(y_part, point, out=u_part)
            else:
                u_part[...] = update(y_part, point)

    def outputs(value: Any, k: int, what: str) -> np.ndarray:
        y = _outputs(value, k, what)
        if y.shape != shape:
            raise PlantError(f"the plant's {what} returned shape {y.shape}; expected {shape}, "
                             f"one output per copy" + ("" if len(shape) == 1 else " and channel"))
        return y

    def begin(y: np.ndarray) -> None:
        for bank, part in zip(banks, parts):
            start_at_plant(bank, y[part])

    loop = run_loop(act, _Noted(plant), yd, shape, outputs, limit=DIVERGED, freeze=True, noise=noise,
                    begin=begin if start == "plant" else None, buffers=(seen_row, u_row))
    plant_name = getattr(plant, "name", type(plant).__name__)
    return Run(label, plant_name, yd, loop.y, loop.u, loop.samples, loop.samples < steps)


class _Noted:
    """A plant whose step's own errors carry a note naming the sample."""

    def __init__(self, plant: Any) -> None:
        self.plant = plant
        self.k = 0

    def reset(self, n: int) -> Any:
        self.k = 0
        return self.plant.reset(n)

    def step(self, u: np.ndarray) -> Any:
        k, self.k = self.k, self.k + 1
        try:
            return self.plant.step(u)
        except Exception as error:
            error.add_note(f"raised by the plant's step at sample {k}")
            raise
