"""figure.py: the one figure module: pictures of closed-loop runs (output with its set point,
and input, against the sample index), drawn with matplotlib, the optional `vorn[plot]` extra.

    plot_runs(runs, path=None, member=0)   member `member` of every run (`Run.plot`,
                                            `vorn.plot_runs`); saved, or the Figure returned
    save_run(run, path), save_grid(runs, path)   the command line's files: one run, or every
                                            run of the demo with one column per plant
    plot_tuning(tuning, path=None)          a tuning's winner against the tuned PID and the
                                            class defaults (`Tuning.plot`)

Legends of the run figures stand to the right of their panels, outside the data area, so they
never cover a trace."""

from __future__ import annotations

import io
import os
from typing import Any, Sequence

from vorn.files import write_file
from vorn.forms import form
from vorn.loop.csv_file import Run, channels

INSTALL_HINT = "--plot needs matplotlib; install it with: pip install 'vorn[plot]'"
PLOT_HINT = "Run.plot needs matplotlib; install it with: pip install 'vorn[plot]'"


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


def _draw(run: Run, out_axis: Any, in_axis: Any, title: str, member: int = 0) -> None:
    seen = int(run.samples[member])
    yd, y, u = (channels(a, member, seen) for a in (run.yd, run.y, run.u))
    dim = len(y)
    k = range(seen)
    for c in range(dim):
        suffix = str(c + 1) if dim > 1 else ""
        line = out_axis.plot(k, y[c], linewidth=1.0, label=f"y{suffix}")[0]
        out_axis.plot(k, yd[c], linestyle="--", linewidth=0.9, color=line.get_color(),
                      alpha=0.7, label=f"yd{suffix}")
        in_axis.plot(k, u[c], linewidth=1.0, color=line.get_color(), label=f"u{suffix}")
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


def save_run(run: Run, path: str, member: int = 0) -> None:
    """One run: output and set point on top, input below."""
    plt = _pyplot()
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(8, 5), layout="constrained")
    _draw(run, top, bottom, f"{run.controller} on the {run.plant} plant", member)
    try:
        save_figure(fig, path, dpi=110)
    finally:
        plt.close(fig)


def save_grid(runs: Sequence[Run], path: str, member: int = 0) -> None:
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
                  f"{run.controller} · {plant}", member)
    for axis in axes.flat:  # a plant with fewer runs leaves its lower cells empty
        if not axis.has_data():
            axis.set_visible(False)
    try:
        save_figure(fig, path, dpi=90)
    finally:
        plt.close(fig)


def plot_runs(runs: Sequence[Run], path: str | None = None, member: int = 0) -> Any:
    """Member `member` of every run: one column per plant, output above input per run; saved
    to `path` (one run alone in the single-run layout), else the Figure returned."""
    runs = list(runs)
    if not have_matplotlib():
        raise ImportError(PLOT_HINT)
    if path is not None:
        if len(runs) == 1:
            save_run(runs[0], path, member)
        else:
            save_grid(runs, path, member)
        return None
    import matplotlib.pyplot as plt  # the caller's backend: a figure to show or to save

    fig, axes = plt.subplots(2 * len(runs), 1, sharex=True, squeeze=False,
                             figsize=(8, 3.2 * len(runs)), layout="constrained")
    for row, run in enumerate(runs):
        _draw(run, axes[2 * row][0], axes[2 * row + 1][0], f"{run.controller} on the {run.plant} plant", member)
    return fig


def plot_tuning(tuning: Any, path: str | os.PathLike[str] | None = None) -> Any:
    """Saves the figure to `path`, or returns it when `path` is None."""
    if not have_matplotlib():
        raise ImportError(PLOT_HINT)
    limits = {k: tuning.params[k] for k in ("u_min", "u_max") if k in tuning.params}
    runs = [(f"tuned {tuning.form.upper()}", tuning.run())]
    if tuning.pid is not None:
        runs.append(("tuned PID", tuning.run(tuning.pid.controller())))
    runs.append(("class defaults", tuning.run(form(tuning.form).single(**limits))))
    plt = _pyplot()
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(8, 5.5), layout="constrained")
    first = runs[0][1]
    top.plot(first.yd[:, 0], linestyle="--", color="black", linewidth=0.9, label="set point")
    name = tuning.objective[0].upper()
    for label, run in runs:
        samples = int(run.samples[0])
        cost = float(getattr(run.metrics, tuning.objective[0])[0])
        tag = f"{label} ({name} {cost:.4g}" + (", diverged)" if run.diverged[0] else ")")
        line = top.plot(run.y[:samples, 0], linewidth=1.0, label=tag)[0]
        bottom.plot(run.u[:samples, 0], linewidth=1.0, color=line.get_color(), label=label)
    plant = tuning.plant if isinstance(tuning.plant, str) else type(tuning.plant).__name__
    top.set_title(f"{tuning.form.upper()} tuned on the {plant} plant", fontsize=10)
    low, high = float(first.yd.min()), float(first.yd.max())
    span = (high - low) or abs(high) or 1.0
    top.set_ylim(low - span, high + span)  # a diverged run must not flatten the others
    tuned = [run.u[:int(run.samples[0]), 0] for _, run in runs[:-1]]
    u_low = min(float(u.min()) for u in tuned)
    u_high = max(float(u.max()) for u in tuned)
    u_span = (u_high - u_low) or abs(u_high) or 1.0
    bottom.set_ylim(u_low - 0.25 * u_span, u_high + 0.25 * u_span)
    top.set_ylabel("output", fontsize=8)
    bottom.set_ylabel("input", fontsize=8)
    bottom.set_xlabel("sample", fontsize=8)
    top.legend(fontsize=7, loc="best")
    if path is None:
        return fig
    try:
        save_figure(fig, path, dpi=110)
    finally:
        plt.close(fig)
    return None
