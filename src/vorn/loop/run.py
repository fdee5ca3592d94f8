"""run.py: the one record of a closed loop (`Run`) and what it shows: metrics, table, CSV,
a pandas frame and figures.

    Run.yd, Run.y, Run.u       arrays (steps, n) or (steps, n, dim): set point, measured
                               output, and the input computed from them at every sample
    Run.samples, Run.diverged  (n,): samples each member saw, and whether it ran away
    Run.metrics                vorn.metrics.Metrics, per member (and channel)
    Run.table() -> str         the demo's table, one row per member
    Run.plot(path=None, member=0)   output and set point above the input (matplotlib);
                               saved to `path`, or the Figure returned
    Run.to_csv(path)           rows controller, plant, [member,] channel, k, yd, y, u
    Run.to_frame()             the same rows as a pandas DataFrame
    Run.member(i=0) -> Run     member i alone, over the samples it saw
    Run.from_channels(controller, plant, yd, y, u, diverged=False) -> Run
                               one member from its trajectories channel by channel
                               (yd[c][k], y[c][k], u[c][k])

    table(runs) -> str, vorn.loop.figure.plot_runs(runs, path=None),
    vorn.loop.csv_file.write_csv(path, runs): several runs at once.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from functools import cached_property
from typing import Any, Sequence

import numpy as np

from vorn.loop import csv_file
from vorn.loop import metrics as measures

PANDAS_HINT = "Run.to_frame needs pandas; install it with: pip install 'vorn[frame]'"


@dataclass(frozen=True)
class Measures:
    """One row of the table. Channels are pooled: absolute errors summed, squared errors
    averaged together, and the overshoot and the final error those of the worse channel."""

    steps: int
    iae: float
    rmse: float
    overshoot: float
    final_error: float
    tracks: bool


@dataclass
class Run:
    """A closed loop's record; see the module's docstring."""

    controller: str
    plant: str
    yd: np.ndarray
    y: np.ndarray
    u: np.ndarray
    samples: np.ndarray
    diverged: np.ndarray
    hold: int = 120  # stretches of constant set point this long are judged by `tracks`

    @property
    def steps(self) -> int:
        return int(self.y.shape[0])

    @property
    def n(self) -> int:
        return int(self.y.shape[1])

    @property
    def dim(self) -> int:
        return int(self.y.shape[2]) if self.y.ndim == 3 else 1

    @cached_property
    def metrics(self) -> measures.Metrics:
        return measures.compute(self.yd, self.y, self.u, self.samples, self.diverged, self.hold)

    def measures(self, member: int = 0) -> Measures:
        """The table's measures of one member, its channels pooled."""
        m = self.metrics

        def channels(a: np.ndarray) -> list[Any]:
            return list(np.atleast_1d(a[member]).tolist())

        count = sum(channels(m.settled_count))
        rmse = math.sqrt(sum(channels(m.settled_squares)) / count) if count else math.nan
        final_error = 0.0
        for e in channels(m.final_error):
            if abs(e) > abs(final_error) or final_error == 0.0:
                final_error = e
        return Measures(int(m.samples[member]), float(sum(channels(m.iae))), rmse,
                        float(max(channels(m.overshoot))), final_error, bool(m.tracks[member]))

    @classmethod
    def from_channels(cls, controller: str, plant: str, yd: Sequence[Sequence[float]],
                      y: Sequence[Sequence[float]], u: Sequence[Sequence[float]],
                      diverged: bool = False) -> Run:
        """One member from its trajectories channel by channel: yd[c][k], y[c][k], u[c][k] are
        the set point, the measured output and the input computed from them at sample k."""
        def array(channels: Sequence[Sequence[float]]) -> np.ndarray:  # (steps, 1) or (steps, 1, dim)
            a = np.array(channels, dtype=float).T
            return a if len(channels) == 1 else a[:, None, :]

        Y = array(y)
        return cls(controller, plant, array(yd), Y, array(u), np.array([len(Y)]), np.array([diverged]))

    def member(self, i: int = 0) -> Run:
        """Member `i` alone, over the samples it saw."""
        rows = int(self.samples[i])
        return Run(self.controller, self.plant, self.yd[:rows, i:i + 1], self.y[:rows, i:i + 1],
                   self.u[:rows, i:i + 1], self.samples[i:i + 1], self.diverged[i:i + 1], self.hold)

    def table(self) -> str:
        return table([self])

    def plot(self, path: str | None = None, member: int = 0) -> Any:
        """Output and set point above the input; saved to `path`, else the Figure returned."""
        from vorn.loop import figure

        return figure.plot_runs([self], path, member)

    def to_csv(self, path: str) -> None:
        csv_file.write_csv(path, [self])

    def to_frame(self) -> Any:
        try:
            import pandas as pd  # type: ignore[import-untyped]
        except ImportError:
            raise ImportError(PANDAS_HINT) from None
        members = self.n > 1
        return pd.DataFrame(csv_file.rows([self], members), columns=csv_file.columns(members))


HEADER = ("controller", "plant", "steps", "IAE", "RMSE settled", "overshoot", "final error")


def table_row(controller: str, plant: str, m: Measures) -> tuple[str, ...]:
    return (controller, plant, str(m.steps), f"{m.iae:.3f}", f"{m.rmse:.4f}",
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


def table(runs: Sequence[Run]) -> str:
    """The table of several runs, one row per member."""
    return format_table([table_row(r.controller, r.plant, r.measures(i)) for r in runs for i in range(r.n)])
