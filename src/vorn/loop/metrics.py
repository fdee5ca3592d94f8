"""metrics.py: tracking measures of closed-loop runs, per member and channel, and what a
closed loop costs the tuner.

    compute(yd, y, u, samples, diverged, hold=120) -> Metrics

`yd`, `y` and `u` have shape (steps, n) or (steps, n, dim); `samples[i]` is the number of
leading samples member i saw before it diverged (all `steps` if it did not). Each measure of
`Metrics` has shape (n,) or (n, dim) and covers, for member i, samples 0 … samples[i] − 1:

    iae          Σ |e(k)|, e(k) = yd(k) − y(k)
    ise          Σ e(k)²
    itae         Σ k·|e(k)|
    overshoot    the largest excursion past a new set-point level, in percent of the step to it
                 (the run starts with a step from the first output; 0 when there is none)
    settling     the sample from which |e| stays within the band (5 % of the set point's range,
                 of its largest magnitude when constant) until the end, after the last set-point
                 change; -1 when the run does not end inside the band
    final_error  e at the last sample
    effort       Σ u(k)²
    variation    Σ |u(k) − u(k−1)|, k ≥ 1
    rmse         root-mean-square error from the sample at which the output settled in the band
                 after the first change (from the second change when it never did)
    tracks       not diverged, and settled in the band in every stretch of constant set point
                 lasting `hold` samples or more (in the last stretch when none lasts that long)

and `diverged` (n,) flags the members whose run ran away.

The tuner's cost (member_costs) is the tracking objective with penalties that keep a loop an
engineer would refuse from winning:

- A member that diverged (an output beyond DIVERGED or not finite, or a non-finite input)
  costs DIVERGED_COST, more the earlier it went, so the search still sees a slope.
- An input that chatters costs more: when the input's total variation Σ|Δu| is more than
  CHATTER times what the set-point changes need (the moves between the input's settled
  levels), the objective is multiplied by the excess.

IAE and ISE are summed by the same functions for both. ITAE is not: the measure takes k·|e|
as one dot product, the cost sums the products column by column, and the two differ in the
last bits; each keeps its own so that no recorded value moves.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np

from vorn.values import real_array

# The settling band, as a fraction of the set point's range.
BAND = 0.05

OBJECTIVES = ("iae", "ise", "itae")
AGGREGATES = ("mean", "worst")
# Outputs beyond this magnitude (or non-finite ones) are a diverged loop.
DIVERGED = 1e6
DIVERGED_COST = 1e12
# A candidate whose run raised inside the plant costs more than any that diverged.
RAISED_COST = 4.0 * DIVERGED_COST
CHATTER = 20.0


def absolute_sum(ae: np.ndarray) -> np.ndarray:
    """IAE per column from the absolute errors |e| (rows: samples)."""
    return np.sum(ae, axis=0)


def square_sum(e: np.ndarray) -> np.ndarray:
    """ISE per column from the errors e (or their magnitudes)."""
    return np.sum(e * e, axis=0)


@dataclass(frozen=True)
class Metrics:
    """Measures of one run; see the module's docstring for their definitions."""

    iae: np.ndarray
    ise: np.ndarray
    itae: np.ndarray
    overshoot: np.ndarray
    settling: np.ndarray
    final_error: np.ndarray
    effort: np.ndarray
    variation: np.ndarray
    rmse: np.ndarray
    tracks: np.ndarray
    diverged: np.ndarray
    samples: np.ndarray
    # What a pooled RMSE needs: the squared errors summed from the settled sample, and their count.
    settled_squares: np.ndarray
    settled_count: np.ndarray


FIELDS = ("iae", "ise", "itae", "overshoot", "settling", "final_error", "effort", "variation",
          "rmse", "tracks", "settled_squares", "settled_count")


def segments(yd: np.ndarray) -> list[tuple[int, int]]:
    """[start, end) of every stretch of constant set point of a 1-D schedule."""
    changes = (np.flatnonzero(yd[1:] != yd[:-1]) + 1).tolist()
    starts = [0] + changes
    return list(zip(starts, changes + [len(yd)]))


def band(yd: np.ndarray) -> float:
    span = float(yd.max() - yd.min())
    if span == 0.0:
        span = float(np.abs(yd).max()) or 1.0
    return BAND * span


def settled_from(e: np.ndarray, start: int, end: int, width: float) -> np.ndarray:
    """Per column of e, the first row of [start, end) from which |e| stays within `width`
    up to `end`, or -1."""
    outside = ~(np.abs(e[start:end]) <= width)
    last_out = (end - start - 1) - np.argmax(outside[::-1], axis=0)
    first_in = np.where(outside.any(axis=0), start + last_out + 1, start)
    return np.where(first_in < end, first_in, -1)


def _block(yd: np.ndarray, y: np.ndarray, u: np.ndarray, hold: int) -> dict[str, np.ndarray]:
    """The measures of the columns of y (rows: samples) that share the schedule yd."""
    steps = len(yd)
    e = yd[:, None] - y
    ae = np.abs(e)
    sq = e * e
    k = np.arange(steps, dtype=float)
    width = band(yd)
    stretches = segments(yd)
    overshoot = np.zeros(y.shape[1])
    previous: np.ndarray | float = y[0]
    for start, end in stretches:
        level = yd[start]
        step = level - previous
        sign = np.sign(step)
        peak = ((y[start:end] - level) * sign).max(axis=0)
        with np.errstate(divide="ignore", invalid="ignore"):
            pct = np.where(step != 0.0, 100.0 * peak / np.abs(step), 0.0)
        overshoot = np.maximum(overshoot, pct)
        previous = level
    start, end = stretches[0]
    first = settled_from(e, start, end, width)
    first = np.where(first < 0, end, first)
    # The settled stretch starts inside the first stretch of constant set point.
    rows = np.arange(end)[:, None]
    squares = np.where(rows >= first, sq[:end], 0.0).sum(axis=0) + sq[end:].sum(axis=0)
    count = steps - first
    with np.errstate(divide="ignore", invalid="ignore"):
        rmse = np.where(count > 0, np.sqrt(squares / np.maximum(count, 1)), np.nan)
    judged = [s for s in stretches if s[1] - s[0] >= hold] or stretches[-1:]
    tracks = np.ones(y.shape[1], dtype=bool)
    for start, end in judged:
        tracks &= settled_from(e, start, end, width) >= 0
    last_start, _ = stretches[-1]
    du = np.abs(np.diff(u, axis=0))
    return {
        "iae": absolute_sum(ae),
        "ise": np.sum(sq, axis=0),
        "itae": np.sum(k[:, None] * ae, axis=0),  # summed as the tuner sums it, not by BLAS
        "overshoot": overshoot,
        "settling": settled_from(e, last_start, steps, width),
        "final_error": e[-1],
        "effort": (u * u).sum(axis=0),
        "variation": du.sum(axis=0),
        "rmse": rmse,
        "tracks": tracks,
        "settled_squares": squares,
        "settled_count": count,
    }


def _empty(columns: int) -> dict[str, np.ndarray]:
    zeros = np.zeros(columns)
    return {**{name: zeros.copy() for name in FIELDS}, "settling": np.full(columns, -1),
            "rmse": np.full(columns, np.nan), "tracks": np.zeros(columns, dtype=bool),
            "settled_count": np.zeros(columns, dtype=int)}


def compute(yd: np.ndarray, y: np.ndarray, u: np.ndarray, samples: np.ndarray,
            diverged: np.ndarray, hold: int = 120) -> Metrics:
    """The measures of a run's arrays; see the module's docstring."""
    steps, n = y.shape[:2]
    tail = y.shape[2:]
    cols = int(np.prod(y.shape[1:], dtype=int))
    flat = [real_array(a, name).reshape(steps, cols) for a, name in ((yd, "yd"), (y, "y"), (u, "u"))]
    seen = np.repeat(np.asarray(samples), cols // n) if n else np.zeros(0, dtype=int)
    out = _empty(cols)
    with np.errstate(over="ignore", invalid="ignore"):
        # Columns that share the schedule and the number of samples are measured together.
        schedule = flat[0]
        shared = steps > 0 and (schedule.strides[1] == 0 or bool((schedule == schedule[:, :1]).all()))
        # Chunks of columns keep the temporaries in cache (and out of fresh pages).
        chunk = max(1, (1 << 16) // max(steps, 1))
        groups: list[tuple[int, Any]] = (
            [(steps, slice(j, j + chunk)) for j in range(0, cols, chunk)] if shared and (seen == steps).all() else
            [(rows, np.flatnonzero(seen == rows)) for rows in np.unique(seen).tolist()] if shared else
            [(int(seen[j]), slice(j, j + 1)) for j in range(cols)])
        for rows, columns in groups:
            if rows == 0:
                continue
            first = np.arange(cols)[columns][0]
            one = _block(schedule[:rows, first], flat[1][:rows, columns], flat[2][:rows, columns], hold)
            for name in FIELDS:
                out[name][columns] = one[name]
    diverged = np.asarray(diverged, dtype=bool)
    # A member tracks when every one of its channels does.
    member_tracks = out.pop("tracks").reshape((n, -1)).all(axis=1) & ~diverged
    shaped = {name: value.reshape((n, *tail)) for name, value in out.items()}
    shaped["tracks"] = member_tracks
    return Metrics(**shaped, diverged=diverged, samples=np.asarray(samples))


def parse_objective(objective: object) -> tuple[str, str]:
    """("iae"|"ise"|"itae", "mean"|"worst") from "iae" or ("iae", "worst")."""
    if isinstance(objective, str):
        name, aggregate = objective, "mean"
    elif isinstance(objective, tuple) and len(objective) == 2:
        name, aggregate = objective
    else:
        raise ValueError(f"objective must be one of {', '.join(OBJECTIVES)}, or a pair such as "
                         f"('iae', 'worst'), not {objective!r}")
    if name not in OBJECTIVES:
        raise ValueError(f"unknown objective {name!r}: expected one of {', '.join(OBJECTIVES)}")
    if aggregate not in AGGREGATES:
        raise ValueError(f"unknown aggregate {aggregate!r}: expected one of {', '.join(AGGREGATES)}")
    return name, aggregate


def tracking(name: str, yd: np.ndarray, y: np.ndarray) -> np.ndarray:
    """The objective per member (column) over the samples: IAE Σ|e|, ISE Σe², ITAE Σk|e|."""
    e = np.abs(yd - y)
    if name == "ise":
        return square_sum(e)
    if name == "itae":
        k = np.arange(e.shape[0], dtype=float)[:, None]
        return np.sum(k * e, axis=0)
    return absolute_sum(e)


def needed_variation(yd: np.ndarray, u: np.ndarray, u0: float = 0.0) -> np.ndarray:
    """Per member, what the set-point changes need of the input: Σ of the moves between the
    input's settled level (its mean over the last quarter) of each stretch of constant set
    point, counted from u0."""
    changes = np.flatnonzero(np.any(yd[1:] != yd[:-1], axis=1)) + 1
    starts = np.concatenate(([0], changes))
    ends = np.concatenate((changes, [yd.shape[0]]))
    previous = np.full(u.shape[1], float(u0))
    need = np.zeros(u.shape[1])
    for a, b in zip(starts, ends):
        level = np.mean(u[a + 3 * (b - a) // 4:b], axis=0)
        need += np.abs(level - previous)
        previous = level
    return need


def member_costs(name: str, yd: np.ndarray, y: np.ndarray, u: np.ndarray,
                 diverged_at: np.ndarray, u0: float = 0.0) -> np.ndarray:
    """The cost of every member (column) of one closed loop; `diverged_at` holds, per member,
    the sample at which it diverged, or the number of steps when it did not."""
    steps = yd.shape[0]
    with np.errstate(all="ignore"):
        cost = tracking(name, yd, y)
        variation = np.sum(np.abs(np.diff(u, axis=0)), axis=0)
        need = needed_variation(yd, u, u0)
        floor = 1e-9 + 1e-3 * np.max(np.abs(u), axis=0)
        excess = variation / (CHATTER * np.maximum(need, floor))
        cost = np.where(excess > 1.0, cost * excess, cost)
    bad = (diverged_at < steps) | ~np.isfinite(cost)
    return np.where(bad, DIVERGED_COST * (2.0 - diverged_at / steps), cost)


def aggregate(costs: np.ndarray, how: str) -> np.ndarray:
    """Candidates' costs from a (candidates, scenarios) array."""
    return costs.max(axis=1) if how == "worst" else costs.mean(axis=1)
