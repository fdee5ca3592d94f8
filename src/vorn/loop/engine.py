"""engine.py: the closed loop the tuner evaluates candidates with: many members (candidates ×
scenarios) advanced together, one plant call per sample.

The members are held by a few batched controllers ("banks": a fleet, a vectorised PID, or a
row of single controllers), each owning a contiguous slice of the plant's copies. Scenario
noise is added to the measured output here, from arrays drawn once per scenario, so that
every candidate meets the same noise; the cost is judged on the plant's own output.
A member that runs away is frozen (its plant input held at 0, its controller fed its set
point) so that it cannot spread non-finite numbers; the sample where it went is recorded
as the samples it saw (`Run.samples`), the number of steps for a member that did not go.
"""

from __future__ import annotations

from typing import Any, Sequence

import numpy as np

from vorn.loop.metrics import DIVERGED
from vorn.loop.run import Run
from vorn.values import ComplexValueError, real_array


class PlantError(ValueError):
    """The plant broke the protocol (wrong shape or type of its outputs)."""


class Singles:
    """A row of single controllers behind the batched update(y, yd) -> u of a fleet."""

    def __init__(self, controllers: Sequence[Any]) -> None:
        self.controllers = list(controllers)

    def __len__(self) -> int:
        return len(self.controllers)

    def update(self, y: np.ndarray, yd: np.ndarray) -> np.ndarray:
        u = np.empty(len(self.controllers))
        for i, (c, yi, ri) in enumerate(zip(self.controllers, y.tolist(), yd.tolist())):
            r = c.update(yi, ri)
            u[i] = r[0] if isinstance(r, tuple) else r
        return u


def _outputs(value: Any, n: int, what: str) -> np.ndarray:
    try:
        y = real_array(value, f"the plant's {what} output")
    except ComplexValueError as error:
        raise PlantError(str(error)) from None
    except (TypeError, ValueError) as error:
        raise PlantError(f"the plant's {what} returned {type(value).__name__}, not numbers: {error}") from None
    if y.shape != (n,):
        raise PlantError(f"the plant's {what} returned shape {y.shape}; expected ({n},), "
                         f"one output per copy")
    return y


def _freeze(bad: np.ndarray, alive: np.ndarray, diverged_at: np.ndarray, k: int) -> bool:
    """Marks the members in `bad` diverged at sample k; True (members are frozen from now on)."""
    diverged_at[bad] = k
    alive &= ~bad
    return True


def closed_loop(banks: Sequence[Any], plant: Any, yd: np.ndarray, noise: np.ndarray | None = None,
                label: str = "candidates") -> Run:
    """Runs the members of `banks` (sizes adding up to yd's columns) on `plant` for yd's rows:
    the Run of true outputs, set points and inputs, (steps, members) each. `noise`, if given,
    has yd's shape and is added to every measurement the banks see."""
    steps, n = yd.shape
    sizes = [len(b) for b in banks]
    if sum(sizes) != n:
        raise ValueError(f"the banks hold {sum(sizes)} members, the set point {n}")
    edges = np.cumsum([0] + sizes)
    y_log = np.empty((steps, n))
    u_log = np.empty((steps, n))
    diverged_at = np.full(n, steps)
    alive = np.ones(n, dtype=bool)
    u = np.empty(n)
    y = _outputs(plant.reset(n), n, "reset")
    frozen = False
    with np.errstate(all="ignore"):
        for k in range(steps):
            if not (np.abs(y) <= DIVERGED).all():
                frozen = _freeze(alive & ~(np.abs(y) <= DIVERGED), alive, diverged_at, k)
            if frozen:
                y = np.where(alive, y, yd[k])
            y_log[k] = y
            seen = y if noise is None else y + noise[k]
            if frozen:
                seen = np.where(alive, seen, yd[k])
            for bank, a, b in zip(banks, edges[:-1], edges[1:]):
                u[a:b] = bank.update(seen[a:b], yd[k, a:b])
            if not np.isfinite(u).all():
                frozen = _freeze(alive & ~np.isfinite(u), alive, diverged_at, k)
            if frozen:
                u = np.where(alive, u, 0.0)
            u_log[k] = u
            try:
                y = _outputs(plant.step(u.copy()), n, "step")
            except PlantError:
                raise
            except Exception as error:
                error.add_note(f"raised by the plant's step at sample {k}")
                raise
    plant_name = getattr(plant, "name", type(plant).__name__)
    return Run(label, plant_name, yd, y_log, u_log, diverged_at, diverged_at < steps)
