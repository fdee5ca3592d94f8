"""calm.py: the default objective's rule against chattering loops.

An IAE-optimal loop on a plant with dead time often moves its input far more than any
operator accepts, for an IAE barely below a calm loop's. Under a plain objective (a string
objective such as "iae", with the PID tuned beside it) the tuner therefore measures, after
both searches, the input's total variation Σ|Δu| of the winner and of the tuned PID on the
same runs, and:

- spends the rest of the adaptive controller's share (CALM_SHARE of it, set aside for this)
  on a search in which a variation above CALM_RATIO (1.5) times the PID's multiplies the
  cost by (variation / limit)² (`capped`). It is local when it starts from a calm loop
  or one near the limit (the winner, or the cheapest loop under that capped cost among all
  the adaptive search met: its `Front` keeps, for every variation, the cheapest candidate
  costed at that variation or less): what it looks for then
  is a better calm loop near that one, and a step of 5 % of the unit cube (a factor of about
  2.5 in `lambda_`, whose range spans eight decades) already leaves the valley such a loop
  sits in, so a restart begins at the best point so far with half the step, not at a random
  one. From a chattering winner with no calm loop beside it, it is a search of the usual
  kind, which must leave the winner's valley;
- a winner within that limit is calm: the search polishes it (a shorter first step), and
  its result replaces the winner only when it is calm too and costs less;
- a winner above it chatters: the cheapest calm loop costed under the plain cost (the
  search's result, the cheapest calm loop that search passed, or the adaptive search's own
  on its front) replaces it when it costs at most CALM_SLACK (10 %) more. The search's result
  need not be calm: under the capped cost a loop a little above the limit can beat a calm
  one. Ten percent is about the spread between two searches of the same budget,
  so that a chattering winner is kept only for a gain in cost that the search's own luck
  does not explain; it is then kept with a warning that names its variation against the
  PID's and the objective that asks for a calmer loop.

The points given to the search (the winner) are costed as given, so its result is never
worse under the capped cost than the winner is.

An `Objective` with weights of its own (vorn.tuning.objective) is the caller's rule: nothing
is chosen for it here.
"""

from __future__ import annotations

from typing import Any, Sequence

import numpy as np

CALM_RATIO = 1.5
CALM_SLACK = 0.10
# The part of the adaptive controller's share of the budget that the calm search may take
# (with counts instead of a budget: CALM_SHARE / (1 - CALM_SHARE) of the search's count,
# a quarter at 0.2).
CALM_SHARE = 0.2
# The first step of the local searches: the calm search from a calm loop beside a
# chattering winner, and the polish of a calm winner (their restarts begin at their best
# point). From a chattering winner with no calm loop beside it the calm search takes the
# optimiser's usual step, and its restarts go to random points, to leave the winner's valley.
CALM_SIGMA = 0.05
LEAVE_SIGMA = 0.3
# Their population (a local search's restarts keep it; the search of the usual kind doubles
# it). Twice the adaptive search's first one: a generation of 32 costs little more than one
# of 16, and at the same count it found calm loops as cheap or cheaper on both process plants
# with dead time, seeds 0-3.
CALM_POPSIZE = 32


def capped(costs: np.ndarray, variation: np.ndarray, limit: float) -> np.ndarray:
    """`costs` with each member whose input variation exceeds `limit` multiplied by the
    square of the excess."""
    with np.errstate(all="ignore"):
        return np.where(variation > limit, costs * (variation / limit) ** 2, costs)


class Front:
    """The candidates a search costed that no other beats on both cost and input variation:
    for every variation, the cheapest candidate costed at that variation or less. Sorted by
    variation, so costs fall along it."""

    def __init__(self) -> None:
        self.points: list[tuple[float, float, dict[str, Any]]] = []  # (variation, cost, candidate)

    def add(self, costs: np.ndarray, variations: np.ndarray, candidates: Sequence[dict[str, Any]],
            below: float) -> None:
        """Takes in a generation's candidates whose cost is below `below` (the diverged ones
        are not loops to start from)."""
        fresh = [(float(v), float(c), candidates[i]) for i, (c, v) in enumerate(zip(costs.tolist(), variations.tolist()))
                 if c < below and np.isfinite(v)]
        if not fresh:
            return
        merged = sorted(self.points + fresh, key=lambda point: (point[0], point[1]))
        kept: list[tuple[float, float, dict[str, Any]]] = []
        for point in merged:
            if not kept or point[1] < kept[-1][1]:
                kept.append(point)
        self.points = kept

    def calmest(self, limit: float) -> tuple[float, float, dict[str, Any]] | None:
        """The cheapest point whose variation is at most `limit`, or None."""
        within = [point for point in self.points if point[0] <= limit]
        return within[-1] if within else None

    def cheapest(self, limit: float) -> tuple[float, float, dict[str, Any]] | None:
        """The point of least capped cost (`capped` at `limit`), or None when it is empty."""
        if not self.points:
            return None
        variation, cost = (np.array([p[i] for p in self.points]) for i in (0, 1))
        return self.points[int(np.argmin(capped(cost, variation, limit)))]


def verdict(measure: str, cost: float, variation: float, pid_variation: float,
            calm_cost: float | None, calm_variation: float | None) -> tuple[bool, list[str]]:
    """Whether the calm search's result replaces the winner, and the note that says so (or
    that the winner chatters and was kept)."""
    limit = CALM_RATIO * pid_variation
    name = measure.upper()
    if calm_cost is not None and calm_variation is not None and calm_variation <= limit \
            and calm_cost <= (1.0 + CALM_SLACK) * cost:
        return True, [f"chose a calmer loop: input variation {calm_variation:.4g} (the tuned PID's "
                      f"{pid_variation:.4g}) for {name} {calm_cost:.6g}, against {variation:.4g} for {name} {cost:.6g}"]
    return False, [f"the input's total variation {variation:.4g} is {variation / max(pid_variation, 1e-300):.3g} "
                   f"times the tuned PID's ({pid_variation:.4g}), and no loop found within {CALM_SLACK:.0%} of its "
                   f"{name} is calmer: objective=vorn.Objective(variation=...) trades {name} for a calmer input"]
