"""cost.py: what a closed loop costs the tuner: the tracking objective and the penalties
that keep a loop an engineer would refuse from winning.

- A member that diverged (an output beyond DIVERGED or not finite, or a non-finite input)
  costs DIVERGED_COST, more the earlier it went, so the search still sees a slope.
- An input that chatters costs more: when the input's total variation Σ|Δu| is more than
  CHATTER times what the set-point changes need (the moves between the input's settled
  levels), the objective is multiplied by the excess.
"""

from __future__ import annotations

import numpy as np

OBJECTIVES = ("iae", "ise", "itae")
AGGREGATES = ("mean", "worst")
DIVERGED = 1e6
DIVERGED_COST = 1e12
# A candidate whose run raised inside the plant costs more than any that diverged.
RAISED_COST = 4.0 * DIVERGED_COST
CHATTER = 20.0


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
        return np.sum(e * e, axis=0)
    if name == "itae":
        k = np.arange(e.shape[0], dtype=float)[:, None]
        return np.sum(k * e, axis=0)
    return np.sum(e, axis=0)


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
