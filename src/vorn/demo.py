"""demo.py: closed loops of the six controllers on the built-in plants, their default
tunings, set-point schedules and the tracking measures the demo table reports."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Callable, Sequence

from vorn import _vorn_core as core
from vorn.plants import PLANTS, TimeVaryingPlant

DEFAULT_STEPS = 600
# A level of the square waves lasts this many samples.
HALF_PERIOD = 120
# Outputs beyond this magnitude (or non-finite ones) end a run as diverged.
DIVERGED = 1e6
# The settling band, as a fraction of the set point's range.
BAND = 0.05

FORMS = ("cfdl", "pfdl", "ffdl")
SISO_CLASSES: dict[str, Any] = {
    "cfdl": core.CFDLController,
    "pfdl": core.PFDLController,
    "ffdl": core.FFDLController,
}
MIMO_CLASSES: dict[str, Any] = {
    "cfdl": core.MimoCfdlController,
    "pfdl": core.MimoPfdlController,
    "ffdl": core.MimoFfdlController,
}


def _square(k: int, first: float, second: float) -> float:
    return first if (k // HALF_PERIOD) % 2 == 0 else second


# The set point of every channel at sample k, per plant.
SET_POINTS: dict[str, Callable[[int], tuple[float, ...]]] = {
    "nonlinear": lambda k: (_square(k, 0.5, -0.5),),
    "time-varying": lambda k: (_square(k, 1.0, 2.0),),
    "dead-time": lambda k: (_square(k, 1.0, 2.0),),
    "coupled": lambda k: (_square(k, 1.0, 0.5), _square(k, 0.5, 1.0)),
}

# The demo's tuning of each form on each plant: keyword arguments of the constructor.
TUNINGS: dict[tuple[str, str], dict[str, Any]] = {
    ("cfdl", "nonlinear"): dict(eta=0.2, rho=0.7, lambda_=0.01, initial_phi=2.0, u_min=-1.5, u_max=1.5),
    ("pfdl", "nonlinear"): dict(mu=0.1, rho=0.5, lambda_=0.1, initial_phi=0.3, l_u=4, u_min=-1.5, u_max=1.5),
    ("ffdl", "nonlinear"): dict(mu=0.1, rho=0.7, lambda_=0.1, initial_phi=0.3, l_y=2, l_u=2, u_min=-1.5, u_max=1.5),
    ("cfdl", "time-varying"): dict(mu=0.1, rho=0.1, lambda_=0.1),
    ("pfdl", "time-varying"): dict(mu=0.1, rho=0.3, lambda_=0.1, initial_phi=1.0, l_u=5),
    ("ffdl", "time-varying"): dict(eta=0.2, rho=0.3, lambda_=0.01, l_y=2, l_u=2),
    ("cfdl", "dead-time"): dict(mu=0.1, rho=0.3, lambda_=10.0, initial_phi=2.0),
    ("pfdl", "dead-time"): dict(mu=0.1, rho=0.2, lambda_=0.1, initial_phi=0.3, l_u=5),
    ("ffdl", "dead-time"): dict(eta=0.5, mu=0.1, rho=1.0, lambda_=1.0, initial_phi=2.0, l_y=2, l_u=4),
    ("cfdl", "coupled"): dict(mu=0.01, rho=1.0, lambda_=3.0, initial_phi=0.7),
    ("pfdl", "coupled"): dict(mu=0.1, rho=1.0, lambda_=0.1, initial_phi=2.0, l_u=3),
    ("ffdl", "coupled"): dict(mu=0.1, rho=1.0, lambda_=0.3, initial_phi=1.0, l_y=2, l_u=2),
}


def make_plant(name: str, steps: int) -> Any:
    """A fresh plant; the time-varying one switches halfway through a run of `steps`."""
    if name == TimeVaryingPlant.name:
        return TimeVaryingPlant(switch_at=steps // 2)
    return PLANTS[name]()


def make_controller(form: str, plant: str) -> Any:
    """The demo's controller of `form` for `plant`, with its default tuning."""
    kwargs = TUNINGS[(form, plant)]
    if PLANTS[plant].dim == 1:
        return SISO_CLASSES[form](**kwargs)
    return MIMO_CLASSES[form](PLANTS[plant].dim, **kwargs)


@dataclass
class Run:
    """The trajectories of one closed loop, channel by channel: yd[c][k], y[c][k], u[c][k]
    are the set point, the measured output and the input computed from them at sample k."""

    controller: str
    plant: str
    yd: list[list[float]] = field(default_factory=list)
    y: list[list[float]] = field(default_factory=list)
    u: list[list[float]] = field(default_factory=list)
    diverged: bool = False

    @property
    def steps(self) -> int:
        return len(self.y[0]) if self.y else 0


def _input_of(result: Any) -> list[float]:
    # CFDLController.update returns a tuple whose first item is u; PFDL and FFDL return u;
    # the MIMO controllers return the input vector.
    if isinstance(result, tuple):
        return [result[0]]
    if isinstance(result, list):
        return result
    return [result]


def close_loop(controller: Any, plant_name: str, steps: int) -> Run:
    """Runs `controller` against a fresh `plant_name` for `steps` samples, from rest."""
    plant = make_plant(plant_name, steps)
    set_point = SET_POINTS[plant_name]
    dim = plant.dim
    run = Run(type(controller).__name__, plant_name,
              [[] for _ in range(dim)], [[] for _ in range(dim)], [[] for _ in range(dim)])
    y = [0.0] * dim
    for k in range(steps):
        yd = set_point(k)
        if dim == 1:
            u = _input_of(controller.update(y[0], yd[0]))
        else:
            u = _input_of(controller.update(y, list(yd)))
        for c in range(dim):
            run.yd[c].append(yd[c])
            run.y[c].append(y[c])
            run.u[c].append(u[c])
        y = [plant.step(u[0])] if dim == 1 else plant.step(u)
        if not all(math.isfinite(v) and abs(v) <= DIVERGED for v in y):
            run.diverged = True
            break
    return run


@dataclass(frozen=True)
class Measures:
    """What the demo table shows of one run; MIMO runs pool their channels: the absolute
    errors are summed, the squared errors averaged together, and the overshoot and the final
    error are those of the worse channel."""

    steps: int
    iae: float
    rmse: float
    overshoot: float
    final_error: float
    tracks: bool


def _segments(yd: Sequence[float]) -> list[tuple[int, int]]:
    """[start, end) of every stretch of constant set point."""
    starts = [0] + [k for k in range(1, len(yd)) if yd[k] != yd[k - 1]]
    return list(zip(starts, starts[1:] + [len(yd)]))


def _band(yd: Sequence[float]) -> float:
    span = max(yd) - min(yd)
    if span == 0.0:
        span = max(abs(v) for v in yd) or 1.0
    return BAND * span


def _settled_from(e: Sequence[float], start: int, end: int, band: float) -> int | None:
    """First index of [start, end) from which |e| stays within `band` to `end`, if any."""
    k = end
    while k > start and abs(e[k - 1]) <= band:
        k -= 1
    return k if k < end else None


def measure(run: Run) -> Measures:
    """The tracking measures of `run`. The start of the run counts as the first set-point
    change (from rest), so the RMSE runs from the sample at which the output settled within
    the band after it; a channel that never settled there is measured from the second change.
    The overshoot is the largest excursion past a new level, in percent of the step to it.
    A run tracks when it did not diverge and the output settled within the band in every
    segment that lasted a whole level of the square wave (or in its only segment)."""
    steps = run.steps
    if steps == 0:
        return Measures(0, 0.0, 0.0, 0.0, 0.0, False)
    iae = -0.0
    squares = -0.0
    count = 0
    overshoot = 0.0
    final_error = 0.0
    tracks = not run.diverged and steps == len(run.yd[0])
    for yd, y in zip(run.yd, run.y):
        e = [r - v for r, v in zip(yd, y)]
        iae += sum(abs(v) for v in e)
        band = _band(yd)
        segments = _segments(yd)
        start, end = segments[0]
        settled = _settled_from(e, start, end, band)
        first = settled if settled is not None else end
        squares += sum(v * v for v in e[first:])
        count += steps - first
        previous = y[0]
        for start, end in segments:
            step = yd[start] - previous
            if step != 0.0:
                peak = max((v - yd[start]) * math.copysign(1.0, step) for v in y[start:end])
                overshoot = max(overshoot, 100.0 * peak / abs(step))
            previous = yd[start]
        if abs(e[-1]) > abs(final_error) or final_error == 0.0:
            final_error = e[-1]
        judged = [seg for seg in segments if seg[1] - seg[0] >= HALF_PERIOD] or segments[-1:]
        tracks = tracks and all(_settled_from(e, a, b, band) is not None for a, b in judged)
    rmse = math.sqrt(squares / count) if count else math.nan
    return Measures(steps, iae, rmse, overshoot, final_error, tracks)


def demo_runs(steps: int = DEFAULT_STEPS) -> list[Run]:
    """Every form on every plant, SISO forms on the SISO plants and MIMO forms on the 2×2."""
    return [close_loop(make_controller(form, plant), plant, steps)
            for plant in PLANTS for form in FORMS]


HEADER = ("controller", "plant", "steps", "IAE", "RMSE settled", "overshoot", "final error")


def table_row(run: Run, m: Measures) -> tuple[str, ...]:
    return (run.controller, run.plant, str(m.steps), f"{m.iae:.3f}", f"{m.rmse:.4f}",
            f"{m.overshoot:.1f}%", f"{m.final_error:.2e}")


def format_table(rows: Sequence[tuple[str, ...]]) -> str:
    """A plain-text table: the first two columns left-aligned, the numbers right-aligned."""
    lines = [HEADER, *rows]
    widths = [max(len(line[i]) for line in lines) for i in range(len(HEADER))]
    out = []
    for line in lines:
        cells = [cell.ljust(w) if i < 2 else cell.rjust(w)
                 for i, (cell, w) in enumerate(zip(line, widths))]
        out.append("  ".join(cells).rstrip())
    return "\n".join(out)
