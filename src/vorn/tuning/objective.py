"""objective.py: `vorn.Objective`, what the tuner minimises, beyond a plain tracking measure:

    Objective(iae=1.0, ise=0.0, itae=0.0, variation=0.0, max_overshoot=None, aggregate="mean")

A member's cost is

    (iae·IAE + ise·ISE + itae·ITAE) × the chatter penalty  +  variation · Σ|u(k) − u(k−1)|

(the chatter penalty as for a plain objective: vorn.loop.metrics.member_costs), and, when its
overshoot passes `max_overshoot` (percent of a set-point step), that cost grows by a tenth
for every percentage point beyond: a loop 5 points over the limit costs 1.5 times as much.
A diverged member costs what it costs under a plain objective. `aggregate` ("mean" or
"worst") combines the scenarios.

A string objective ("iae", "ise", "itae", or a pair such as ("iae", "worst")) is the
Objective with that one weight 1 and nothing else; its costs are computed exactly as before.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any

import numpy as np

from vorn.loop.metrics import AGGREGATES, DIVERGED_COST, OBJECTIVES, compute, member_costs, parse_objective

# The cost's growth per percentage point of overshoot beyond the limit.
OVERSHOOT_GROWTH = 0.1


@dataclass(frozen=True)
class Objective:
    """What `vorn.tune` minimises; see the module's docstring."""

    iae: float = 1.0
    ise: float = 0.0
    itae: float = 0.0
    variation: float = 0.0
    max_overshoot: float | None = None
    aggregate: str = "mean"

    def __post_init__(self) -> None:
        for name in (*OBJECTIVES, "variation"):
            value = getattr(self, name)
            if isinstance(value, bool) or not isinstance(value, (int, float)) \
                    or not (math.isfinite(value) and value >= 0.0):
                raise ValueError(f"the objective's {name} weight must be a finite number >= 0, not {value!r}")
        if not any(getattr(self, name) > 0.0 for name in OBJECTIVES):
            raise ValueError("the objective needs a positive weight on iae, ise or itae")
        limit = self.max_overshoot
        if limit is not None and (isinstance(limit, bool) or not isinstance(limit, (int, float))
                                  or not (limit >= 0.0 and math.isfinite(limit))):
            raise ValueError(f"max_overshoot must be a finite percentage >= 0 or None, not {limit!r}")
        if self.aggregate not in AGGREGATES:
            raise ValueError(f"unknown aggregate {self.aggregate!r}: expected one of {', '.join(AGGREGATES)}")

    @property
    def measure(self) -> str:
        """The tracking measure that leads it (the first with a positive weight)."""
        return next(name for name in OBJECTIVES if getattr(self, name) > 0.0)

    @property
    def plain(self) -> bool:
        """One tracking measure with weight 1 and nothing else: a string objective."""
        return (getattr(self, self.measure) == 1.0 and self.variation == 0.0 and self.max_overshoot is None
                and sum(getattr(self, name) > 0.0 for name in OBJECTIVES) == 1)


def check_objective(objective: Any) -> Objective:
    """An Objective from an Objective or a string objective."""
    if isinstance(objective, Objective):
        return objective
    name, how = parse_objective(objective)
    return Objective(**{m: (1.0 if m == name else 0.0) for m in OBJECTIVES}, aggregate=how)


def objective_costs(objective: Objective, yd: np.ndarray, y: np.ndarray, u: np.ndarray,
                    diverged_at: np.ndarray, u0: float = 0.0) -> np.ndarray:
    """Every member's (column's) cost of one closed loop under `objective`."""
    if objective.plain:
        return member_costs(objective.measure, yd, y, u, diverged_at, u0)
    steps = yd.shape[0]
    parts = [getattr(objective, m) * member_costs(m, yd, y, u, diverged_at, u0)
             for m in OBJECTIVES if getattr(objective, m) > 0.0]
    bad = diverged_at < steps
    with np.errstate(all="ignore"):
        cost = np.sum(parts, axis=0)
        if objective.variation > 0.0:
            cost = cost + objective.variation * np.sum(np.abs(np.diff(u, axis=0)), axis=0)
        if objective.max_overshoot is not None:
            over = compute(yd, y, u, diverged_at, bad).overshoot - objective.max_overshoot
            cost = np.where(over > 0.0, cost * (1.0 + OVERSHOOT_GROWTH * over), cost)
    plain = member_costs(objective.measure, yd, y, u, diverged_at, u0)
    return np.where(bad | ~np.isfinite(cost) | (plain >= DIVERGED_COST), plain, cost)
