"""csv_file.py: the one CSV writer of closed-loop runs (`Run.to_csv`, `vorn run --csv`,
`vorn demo --csv`), and the rows it writes, which `Run.to_frame` shares.

    write_csv(path, runs)   rows controller, plant, [member,] channel, k, yd, y, u
"""

from __future__ import annotations

import csv
from typing import Any, Iterator, Protocol, Sequence

import numpy as np

from vorn.files import replacing


class Run(Protocol):
    """What the writer and the figures read of a `vorn.Run` (which imports them)."""

    controller: str
    plant: str
    yd: np.ndarray
    y: np.ndarray
    u: np.ndarray
    samples: np.ndarray
    diverged: np.ndarray

    @property
    def n(self) -> int: ...

    @property
    def steps(self) -> int: ...


def columns(members: bool) -> list[str]:
    return ["controller", "plant", *(["member"] if members else []), "channel", "k", "yd", "y", "u"]


def channels(a: Any, member: int, rows: int) -> list[list[float]]:
    """Member `member`'s first `rows` samples of a run's array, channel by channel."""
    one = a[:rows, member]
    return [one.tolist()] if one.ndim == 1 else [one[:, c].tolist() for c in range(one.shape[1])]


def rows(runs: Sequence[Run], members: bool) -> Iterator[tuple[Any, ...]]:
    """One row per run, member, channel and sample, over the samples each member saw."""
    for run in runs:
        for i in range(run.n):
            seen = int(run.samples[i])
            yd, y, u = (channels(a, i, seen) for a in (run.yd, run.y, run.u))
            for c in range(len(y)):
                for k in range(seen):
                    yield (run.controller, run.plant, *((i,) if members else ()), c + 1, k,
                           yd[c][k], y[c][k], u[c][k])


def write_csv(path: str, runs: Sequence[Run]) -> None:
    """One row per run, member, channel and sample; the member column only when a run has
    more than one member. Floats are written in full (repr), so they read back exactly."""
    members = any(r.n > 1 for r in runs)
    with replacing(path, newline="") as stream:
        writer = csv.writer(stream)
        writer.writerow(columns(members))
        for row in rows(runs, members):
            writer.writerow([repr(v) if isinstance(v, float) else v for v in row])
