"""run.py: the record of a closed loop (`Run`) and what it shows: metrics, table, CSV,
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
    Run.trace(member=0) -> Trace   one member's trajectories, channel by channel

    table(runs) -> str, plot_runs(runs, path=None), write_csv(path, runs): several runs at once.
"""

from __future__ import annotations

import csv
import math
from dataclasses import dataclass, field
from functools import cached_property
from typing import Any, Sequence

import numpy as np

from vorn import metrics as measures
from vorn.files import replacing

PANDAS_HINT = "Run.to_frame needs pandas; install it with: pip install 'vorn[frame]'"
PLOT_HINT = "Run.plot needs matplotlib; install it with: pip install 'vorn[plot]'"


@dataclass
class Trace:
    """One member's trajectories, channel by channel: yd[c][k], y[c][k], u[c][k] are the set
    point, the measured output and the input computed from them at sample k."""

    controller: str
    plant: str
    yd: list[Sequence[float]] = field(default_factory=list)
    y: list[Sequence[float]] = field(default_factory=list)
    u: list[Sequence[float]] = field(default_factory=list)
    diverged: bool = False

    @property
    def steps(self) -> int:
        return len(self.y[0]) if self.y else 0


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
        channels = lambda a: np.atleast_1d(a[member]).tolist()  # noqa: E731
        count = sum(channels(m.settled_count))
        rmse = math.sqrt(sum(channels(m.settled_squares)) / count) if count else math.nan
        final_error = 0.0
        for e in channels(m.final_error):
            if abs(e) > abs(final_error) or final_error == 0.0:
                final_error = e
        return Measures(int(m.samples[member]), float(sum(channels(m.iae))), rmse,
                        float(max(channels(m.overshoot))), final_error, bool(m.tracks[member]))

    def trace(self, member: int = 0) -> Trace:
        """Member `member`'s trajectories over the samples it saw."""
        rows = int(self.samples[member])

        def channels(a: np.ndarray) -> list[Sequence[float]]:
            one = a[:rows, member]
            return [one.tolist()] if one.ndim == 1 else [one[:, c].tolist() for c in range(one.shape[1])]

        return Trace(self.controller, self.plant, channels(self.yd), channels(self.y),
                     channels(self.u), bool(self.diverged[member]))

    def table(self) -> str:
        return table([self])

    def plot(self, path: str | None = None, member: int = 0) -> Any:
        """Output and set point above the input; saved to `path`, else the Figure returned."""
        return _plot([self.trace(member)], path)

    def to_csv(self, path: str) -> None:
        write_csv(path, [self])

    def to_frame(self) -> Any:
        try:
            import pandas as pd  # type: ignore[import-untyped]
        except ImportError:
            raise ImportError(PANDAS_HINT) from None
        return pd.DataFrame(_rows([self], self.n > 1), columns=_columns(self.n > 1))


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


def _columns(members: bool) -> list[str]:
    return ["controller", "plant", *(["member"] if members else []), "channel", "k", "yd", "y", "u"]


def _rows(runs: Sequence[Run], members: bool) -> Any:
    for run in runs:
        for i in range(run.n):
            t = run.trace(i)
            for c in range(len(t.y)):
                for k in range(t.steps):
                    yield (run.controller, run.plant, *((i,) if members else ()), c + 1, k,
                           t.yd[c][k], t.y[c][k], t.u[c][k])


def write_csv(path: str, runs: Sequence[Run]) -> None:
    """One row per run, member, channel and sample; the member column only when a run has
    more than one member. Floats are written in full (repr), so they read back exactly."""
    members = any(r.n > 1 for r in runs)
    with replacing(path, newline="") as stream:
        writer = csv.writer(stream)
        writer.writerow(_columns(members))
        for row in _rows(runs, members):
            writer.writerow([repr(v) if isinstance(v, float) else v for v in row])


def plot_runs(runs: Sequence[Run], path: str | None = None, member: int = 0) -> Any:
    """Member `member` of every run: one column per plant, output above input per run."""
    return _plot([r.trace(member) for r in runs], path)


def _plot(traces: list[Trace], path: str | None) -> Any:
    from vorn import plot

    if not plot.have_matplotlib():
        raise ImportError(PLOT_HINT)
    if path is not None:
        if len(traces) == 1:
            plot.save_run(traces[0], path)
        else:
            plot.save_grid(traces, path)
        return None
    import matplotlib.pyplot as plt  # the caller's backend: a figure to show or to save

    fig, axes = plt.subplots(2 * len(traces), 1, sharex=True, squeeze=False,
                             figsize=(8, 3.2 * len(traces)), layout="constrained")
    for row, t in enumerate(traces):
        plot._draw(t, axes[2 * row][0], axes[2 * row + 1][0], f"{t.controller} on the {t.plant} plant")
    return fig
