"""calm.py: the default objective's rule against chattering loops.

An IAE-optimal loop on a plant with dead time often moves its input far more than any
operator accepts, for an IAE barely below a calm loop's. Under a plain objective (a string
objective such as "iae") the tuner therefore measures, after both searches, the input's
total variation Σ|Δu| of the winner and of the tuned PID on the same runs:

- a winner whose variation is at most CALM_RATIO (1.5) times the PID's is kept;
- otherwise the cheapest of the search's close rivals (its LEADERS cheapest candidates) whose
  variation is within that limit replaces it, when its cost is at most CALM_SLACK (5 %) above
  the winner's;
- otherwise (the gain in cost is larger than that) the winner is kept, with a warning that
  names its variation against the PID's and the objective that asks for a calmer loop.

An `Objective` with its own weights (vorn.tuning.objective) is taken as the caller's rule:
nothing is chosen for it here.
"""

from __future__ import annotations

from vorn.loop.metrics import DIVERGED_COST
from vorn.tuning import evaluate
from vorn.tuning.search import SearchResult

CALM_RATIO = 1.5
CALM_SLACK = 0.05


def choose(problem: evaluate.Problem, found: SearchResult, pid_found: SearchResult) -> list[str]:
    """Applies the rule to `found` (its params and cost may change); the notes it makes. It
    takes one closed loop of the rivals and the PID together."""
    if pid_found.cost >= DIVERGED_COST or found.cost >= DIVERGED_COST:
        return []
    rivals = [found.params] + [p for _, p in found.leaders if p != found.params]
    costs, variations, pid_variation = evaluate.costs_and_variations(problem, rivals, pid_found.params)
    assert pid_variation is not None
    limit = CALM_RATIO * pid_variation
    if variations[0] <= limit:
        return []
    calm = [i for i in range(1, len(rivals)) if variations[i] <= limit and costs[i] <= (1.0 + CALM_SLACK) * costs[0]]
    name = problem.objective.upper()
    if calm:
        best = min(calm, key=lambda i: (costs[i], i))
        note = (f"chose a calmer loop: input variation {variations[best]:.4g} (the tuned PID's "
                f"{pid_variation:.4g}) for {name} {costs[best]:.6g}, against {variations[0]:.4g} for "
                f"{name} {costs[0]:.6g}")
        found.params, found.cost = rivals[best], float(costs[best])
        return [note]
    return [f"the input's total variation {variations[0]:.4g} is {variations[0] / max(pid_variation, 1e-300):.3g} "
            f"times the tuned PID's ({pid_variation:.4g}), and no loop found within {CALM_SLACK:.0%} of its "
            f"{name} is calmer: objective=vorn.Objective(variation=...) trades {name} for a calmer input"]
