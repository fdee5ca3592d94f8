"""stress.py: `Tuning.stress()`, the tuned controller and the tuned PID on copies of the plant
that are not the one they were tuned on, which is where an adaptive controller should earn
its keep:

    nominal          the plant as tuned (no noise)
    gain x0.5        the output's move from its rest level halved
    gain x2          and doubled
    dead time +1     the input reaching the plant one sample later
    noise            Gaussian measurement noise of NOISE_FRACTION of the set point's span
                     (mean over NOISE_DRAWS draws, seeded)

Each entry is the IAE of the plant's own output (noise left out, as the tuner's cost), the
run's set point and operating point those of the tuning; "diverged" when the loop ran away.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Callable

import numpy as np

import vorn.plants as builtin
from vorn.loop.engine import closed_loop
from vorn.loop.metrics import tracking
from vorn.tuning.evaluate import controllers

NOISE_FRACTION = 0.02
NOISE_DRAWS = 4


class ScaledGain:
    """A plant whose output moves `factor` times as far from its rest level."""

    def __init__(self, plant: Any, factor: float) -> None:
        self.plant, self.factor = plant, factor
        self.name = getattr(plant, "name", type(plant).__name__)
        self.rest: np.ndarray = np.zeros(0)

    def reset(self, n: int) -> np.ndarray:
        self.rest = np.asarray(self.plant.reset(n), dtype=float)
        return self.rest.copy()

    def step(self, u: np.ndarray) -> np.ndarray:
        y = np.asarray(self.plant.step(u), dtype=float)
        moved: np.ndarray = self.rest + self.factor * (y - self.rest)
        return moved


class ExtraDelay:
    """A plant whose input arrives `samples` later; before the first input arrives, the plant
    sees `u0`, the input it rested at."""

    def __init__(self, plant: Any, samples: int, u0: float) -> None:
        self.plant, self.samples, self.u0 = plant, samples, u0
        self.name = getattr(plant, "name", type(plant).__name__)
        self.pending: list[np.ndarray] = []

    def reset(self, n: int) -> Any:
        self.pending = [np.full(n, self.u0) for _ in range(self.samples)]
        return self.plant.reset(n)

    def step(self, u: np.ndarray) -> Any:
        self.pending.append(np.array(u, dtype=float))
        return self.plant.step(self.pending.pop(0))


@dataclass(frozen=True)
class StressRow:
    case: str
    tuned: float  # the tuned controller's IAE (inf: diverged)
    pid: float | None  # the tuned PID's, None without one


@dataclass(frozen=True)
class StressTable:
    """How the tuned controller and the tuned PID degrade off the nominal plant: one row per
    case, the first the nominal plant; str() is the table."""

    form: str
    rows: tuple[StressRow, ...]

    def __str__(self) -> str:
        nominal = self.rows[0]
        head = f"{'plant':<14}{self.form.upper() + ' IAE':>14}{'x nominal':>11}"
        head += f"{'PID IAE':>14}{'x nominal':>11}" if nominal.pid is not None else ""
        lines = [head]
        for row in self.rows:
            line = f"{row.case:<14}{_iae(row.tuned):>14}{_ratio(row.tuned, nominal.tuned):>11}"
            if row.pid is not None and nominal.pid is not None:
                line += f"{_iae(row.pid):>14}{_ratio(row.pid, nominal.pid):>11}"
            lines.append(line)
        return "\n".join(lines)


def _iae(value: float) -> str:
    return "diverged" if math.isinf(value) else f"{value:.4g}"


def _ratio(value: float, nominal: float) -> str:
    return "-" if math.isinf(value) or not nominal > 0.0 else f"{value / nominal:.2f}"


def stress(tuning: Any, seed: int = 0) -> StressTable:
    """The stress table of `tuning` (a vorn.Tuning); see the module's docstring."""
    yd = np.asarray(tuning.setpoint, dtype=float)
    span = float(yd.max() - yd.min()) or float(np.abs(yd).max()) or 1.0
    u0 = float(tuning.params.get("u0", 0.0))
    rng = np.random.default_rng(np.random.SeedSequence([seed, 0x57E5]))
    noise = NOISE_FRACTION * span * rng.standard_normal((len(yd), NOISE_DRAWS))
    cases: list[tuple[str, Callable[[Any], Any], np.ndarray | None]] = [
        ("nominal", lambda p: p, None),
        ("gain x0.5", lambda p: ScaledGain(p, 0.5), None),
        ("gain x2", lambda p: ScaledGain(p, 2.0), None),
        ("dead time +1", lambda p: ExtraDelay(p, 1, u0), None),
        (f"noise {NOISE_FRACTION * span:.3g}", lambda p: p, noise),
    ]
    rows = []
    for case, perturb, drawn in cases:
        tuned = _iae_of(tuning.form, tuning.params, perturb(_fresh(tuning)), yd, drawn, tuning.operating_point)
        pid = None if tuning.pid is None else _iae_of("pid", tuning.pid.params, perturb(_fresh(tuning)), yd,
                                                      drawn, tuning.operating_point)
        rows.append(StressRow(case, tuned, pid))
    return StressTable(tuning.form, tuple(rows))


def _fresh(tuning: Any) -> Any:
    """The tuning's plant: a new copy of a built-in one (no noise, nominal coefficients)."""
    if isinstance(tuning.plant, str):
        return builtin.make(tuning.plant, len(tuning.setpoint), rng=np.random.default_rng(0))
    return tuning.plant


def _iae_of(form: str, params: dict[str, Any], plant: Any, yd: np.ndarray, noise: np.ndarray | None,
            start: str | None) -> float:
    """The mean IAE over the noise draws (one run without noise); inf when any diverged."""
    draws = 1 if noise is None else noise.shape[1]
    banks = controllers(form, [params], draws)
    run = closed_loop(banks, plant, np.broadcast_to(yd[:, None], (len(yd), draws)), noise, start=start)
    if (run.samples < len(yd)).any():
        return math.inf
    return float(np.mean(tracking("iae", run.yd, run.y)))
