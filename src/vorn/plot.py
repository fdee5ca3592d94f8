"""plot.py: figures of closed-loop runs (output with its set point, and input, against the
sample index), drawn with matplotlib, the optional `vorn[plot]` extra. Legends stand to the
right of their panels, outside the data area, so they never cover a trace."""

from __future__ import annotations

import io
import os
from typing import Any, Sequence

from vorn.demo import Run
from vorn.files import write_file

INSTALL_HINT = "--plot needs matplotlib; install it with: pip install 'vorn[plot]'"


def have_matplotlib() -> bool:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        return False
    return True


def _pyplot() -> Any:
    import matplotlib

    matplotlib.use("Agg")  # files only, whatever display the machine has
    import matplotlib.pyplot as plt

    return plt


def save_figure(fig: Any, path: str | os.PathLike[str], dpi: int) -> None:
    """Draws `fig` in memory in the format its extension names (matplotlib's default without
    one), then writes the file as `vorn.files` writes every file: whole or not at all."""
    path = os.fspath(path)
    buffer = io.BytesIO()
    fig.savefig(buffer, format=os.path.splitext(path)[1][1:].lower() or None, dpi=dpi)
    write_file(path, buffer.getvalue())


def _draw(run: Run, out_axis: Any, in_axis: Any, title: str) -> None:
    dim = len(run.y)
    k = range(run.steps)
    for c in range(dim):
        suffix = str(c + 1) if dim > 1 else ""
        line = out_axis.plot(k, run.y[c], linewidth=1.0, label=f"y{suffix}")[0]
        out_axis.plot(k, run.yd[c], linestyle="--", linewidth=0.9, color=line.get_color(),
                      alpha=0.7, label=f"yd{suffix}")
        in_axis.plot(k, run.u[c], linewidth=1.0, color=line.get_color(), label=f"u{suffix}")
    out_axis.set_title(title, fontsize=9)
    out_axis.set_ylabel("output", fontsize=8)
    in_axis.set_ylabel("input", fontsize=8)
    in_axis.set_xlabel("sample k", fontsize=8)
    for axis in (out_axis, in_axis):
        axis.tick_params(labelsize=7)
        axis.grid(True, linewidth=0.3)
    # Outside the axes: "best" still covers traces when every corner holds data.
    for axis in (out_axis, in_axis) if dim > 1 else (out_axis,):
        axis.legend(fontsize=7, loc="upper left", bbox_to_anchor=(1.01, 1.0), borderaxespad=0.0)


def save_run(run: Run, path: str) -> None:
    """One run: output and set point on top, input below."""
    plt = _pyplot()
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(8, 5), layout="constrained")
    _draw(run, top, bottom, f"{run.controller} on the {run.plant} plant")
    try:
        save_figure(fig, path, dpi=110)
    finally:
        plt.close(fig)


def save_grid(runs: Sequence[Run], path: str) -> None:
    """Every run of the demo: one column per plant, two rows (output, input) per form."""
    plt = _pyplot()
    plants = list(dict.fromkeys(run.plant for run in runs))
    rows_per_plant = max(sum(1 for run in runs if run.plant == p) for p in plants)
    fig, axes = plt.subplots(2 * rows_per_plant, len(plants), sharex="col", squeeze=False,
                             figsize=(4.8 * len(plants), 2.6 * rows_per_plant),
                             layout="constrained")
    for column, plant in enumerate(plants):
        for row, run in enumerate(r for r in runs if r.plant == plant):
            _draw(run, axes[2 * row][column], axes[2 * row + 1][column],
                  f"{run.controller} · {plant}")
    for axis in axes.flat:  # a plant with fewer runs leaves its lower cells empty
        if not axis.has_data():
            axis.set_visible(False)
    try:
        save_figure(fig, path, dpi=90)
    finally:
        plt.close(fig)
