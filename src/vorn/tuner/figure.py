"""figure.py: the picture of a tuning: the tuned controller, the tuned PID and the class
defaults on the tuning's run, outputs with the set point above, inputs below (matplotlib,
the optional `vorn[plot]` extra)."""

from __future__ import annotations

import os
from typing import Any

from vorn import plot
from vorn.run import PLOT_HINT
from vorn.tuner.evaluate import SINGLE_CLASSES


def plot_tuning(tuning: Any, path: str | os.PathLike[str] | None = None) -> Any:
    """Saves the figure to `path`, or returns it when `path` is None."""
    if not plot.have_matplotlib():
        raise ImportError(PLOT_HINT)
    limits = {k: tuning.params[k] for k in ("u_min", "u_max") if k in tuning.params}
    runs = [(f"tuned {tuning.form.upper()}", tuning.run())]
    if tuning.pid is not None:
        runs.append(("tuned PID", tuning.run(tuning.pid.controller())))
    runs.append(("class defaults", tuning.run(SINGLE_CLASSES[tuning.form](**limits))))
    plt = plot._pyplot()
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
        plot.save_figure(fig, path, dpi=110)
    finally:
        plt.close(fig)
    return None
