"""metrics.py: tracking measures of closed-loop runs, per member and channel.

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
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np

from vorn.values import real_array

# The settling band, as a fraction of the set point's range.
BAND = 0.05


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
        "iae": ae.sum(axis=0),
        "ise": sq.sum(axis=0),
        "itae": k @ ae,
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
