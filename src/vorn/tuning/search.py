"""search.py: the optimiser loop: CMA-ES (the `cma` package, ask and tell) over the unit cube
of a search space, one generation per call of the cost function, restarted from a random
point with a doubled population when it converges or stalls, until the wall-clock budget or
a limit on generations or evaluations is reached.

CMA-ES draws its samples from a generator seeded here, never from NumPy's global state, so
a search with a fixed seed and a generation limit repeats exactly. When the caller wants the
best so far on Ctrl-C, the interrupt is taken between generations.
"""

from __future__ import annotations

import contextlib
import itertools
import math
import signal
import threading
import time
import warnings
from dataclasses import dataclass, field
from typing import Any, Callable, Iterator, Sequence

import numpy as np

from vorn.tuning.space import SearchSpace

# Step size of the first generation, in the unit cube.
SIGMA0 = 0.3
# Candidates per generation at the first start. A generation's closed loop costs little
# more for 16 members than for CMA-ES's own choice (8 to 10 here), and the larger population
# searches more widely in the same time.
POPSIZE = 16
# A run whose best has not improved by PROGRESS (relative) for STALL generations has settled
# in its basin; the rest of the budget is better spent on a restart elsewhere.
STALL = 30
PROGRESS = 1e-3
MAX_POPSIZE = 256
# The shortest first step of a local search's restart.
LOCAL_SIGMA_MIN = 1e-3


@dataclass
class Progress:
    """What the progress callback is told after every generation."""

    stage: str
    generation: int
    evaluations: int
    best: float
    elapsed: float
    budget: float


class BudgetTooSmall(ValueError):
    """The first generation alone took longer than the search's budget."""

    def __init__(self, took: float, budget: float) -> None:
        super().__init__(f"one generation took {took:.3g} s, more than the {budget:.3g} s budget")
        self.took = took
        self.budget = budget


@dataclass
class SearchResult:
    params: dict[str, Any]
    cost: float
    history: list[float] = field(default_factory=list)  # best cost so far, per generation
    evaluations: int = 0
    generations: int = 0
    elapsed: float = 0.0
    interrupted: bool = False


def import_cma() -> Any:
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # cma's note that it cannot plot without matplotlib
            import cma  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        raise ImportError("vorn.tune needs the cma package: pip install 'vorn[tune]'") from None
    return cma


@contextlib.contextmanager
def _deferred_interrupts(wanted: bool) -> Iterator[list[bool]]:
    """While the search runs in the main thread with Python's own Ctrl-C handler, a first
    Ctrl-C only raises a flag that the loop reads between generations (a KeyboardInterrupt
    raised inside the optimiser's own bookkeeping could be swallowed there); a second one
    interrupts at once."""
    flag = [False]
    if not wanted or threading.current_thread() is not threading.main_thread() \
            or signal.getsignal(signal.SIGINT) is not signal.default_int_handler:
        yield flag
        return

    def handler(signum: int, frame: Any) -> None:
        if flag[0]:
            raise KeyboardInterrupt
        flag[0] = True

    previous = signal.signal(signal.SIGINT, handler)
    try:
        yield flag
    finally:
        signal.signal(signal.SIGINT, previous)


def cma_search(space: SearchSpace, cost: Callable[[Sequence[dict[str, Any]]], np.ndarray], *,
               budget: float, seed: int, stage: str = "search", x0: np.ndarray | None = None,
               max_generations: int | None = None, max_evaluations: int | None = None,
               progress: Callable[[Progress], None] | None = None,
               on_interrupt: str = "raise", inject: Sequence[dict[str, Any]] = (),
               strict_budget: bool = False, sigma: float = SIGMA0, local: bool = False,
               popsize: int = POPSIZE) -> SearchResult:
    """Minimises `cost` (a generation's parameter dicts in, their costs out) over `space`.
    The points `inject` join the first generation, so the result is never worse than they
    are. With no dimension to search, the fixed parameters are costed once. `sigma` is the
    first run's step size in the unit cube (a restart takes SIGMA0), `popsize` its population
    (a restart doubles it, up to MAX_POPSIZE). A `local` search stays
    where it began: a restart begins at the best point so far, with half the last step and
    the same population.

    The first generation always runs; a later one only when, at the last one's pace (scaled
    to its population), it ends within `budget`. With `strict_budget`, a first generation
    that alone took longer than `budget` raises BudgetTooSmall instead of returning."""
    start = time.monotonic()
    if space.size == 0:
        params = space.decode([])
        value = float(cost([params])[0])
        return SearchResult(params, value, [value], 1, 1, time.monotonic() - start)
    cma = import_cma()
    start = time.monotonic()  # the import is not the search's time
    rng = np.random.default_rng(np.random.SeedSequence(seed))
    best = SearchResult(space.decode(x0 if x0 is not None else np.full(space.size, 0.5)), np.inf)
    mean = np.full(space.size, 0.5) if x0 is None else np.clip(np.asarray(x0, dtype=float), 0.0, 1.0)
    try:
        with _deferred_interrupts(on_interrupt == "return") as interrupted:
            return _generations(space, cost, cma, rng, best, mean, popsize, start, budget, stage,
                                max_generations, max_evaluations, progress, inject, interrupted,
                                strict_budget, sigma, local)
    except KeyboardInterrupt:
        if on_interrupt != "return" or not best.generations:
            raise
        best.interrupted = True
        return _done(best, start)


def _generations(space: SearchSpace, cost: Callable[[Sequence[dict[str, Any]]], np.ndarray], cma: Any,
                 rng: np.random.Generator, best: SearchResult, mean: np.ndarray, popsize: int,
                 start: float, budget: float, stage: str, max_generations: int | None,
                 max_evaluations: int | None, progress: Callable[[Progress], None] | None,
                 inject: Sequence[dict[str, Any]], interrupted: list[bool],
                 strict_budget: bool, sigma: float, local: bool) -> SearchResult:
    """The restarts and generations of one search, recorded in `best`."""
    last, last_size = 0.0, popsize
    while True:
        options = {"bounds": [0.0, 1.0], "verbose": -9, "verb_log": 0, "verb_disp": 0,
                   "randn": lambda *shape: rng.standard_normal(shape), "tolfun": 1e-9,
                   "seed": math.nan, "popsize": popsize}  # no seed: the samples come from rng
        es = cma.CMAEvolutionStrategy(mean, sigma, options)
        popsize = es.popsize
        if inject and not best.generations:
            es.inject([space.encode(p) for p in inject], force=True)
        run_best, run_best_at = np.inf, 0
        for run_generation in itertools.count():
            if es.stop() or run_generation - run_best_at > STALL:
                break
            elapsed = time.monotonic() - start
            if best.generations and elapsed + last * max(1.0, popsize / last_size) > budget:
                return _done(best, start)
            if max_generations is not None and best.generations >= max_generations:
                return _done(best, start)
            if max_evaluations is not None and best.evaluations + popsize > max_evaluations:
                return _done(best, start)
            began = time.monotonic()
            xs = es.ask()
            candidates = [space.decode(x) for x in xs]
            if inject and best.generations == 0:
                # The optimiser hands injected points back through its boundary transform,
                # which moves a point on or near a face of the cube (a step factor of 1, say);
                # the points themselves are costed, so that the result is never worse.
                candidates[:len(inject)] = [space.exact(p) for p in inject]
            values = np.asarray(cost(candidates), dtype=float)
            es.tell(xs, values.tolist())
            i = int(np.argmin(values))
            if values[i] < run_best * (1.0 - PROGRESS):
                run_best, run_best_at = float(values[i]), run_generation
            if values[i] < best.cost:
                best.params, best.cost = candidates[i], float(values[i])
            best.generations += 1
            best.evaluations += len(xs)
            best.history.append(best.cost)
            now = time.monotonic()
            last, last_size = now - began, len(xs)
            if strict_budget and best.generations == 1 and now - start > budget:
                raise BudgetTooSmall(last, budget)
            if progress is not None:
                progress(Progress(stage, best.generations, best.evaluations, best.cost,
                                  time.monotonic() - start, budget))
            if interrupted[0]:
                raise KeyboardInterrupt
        if local:  # converged or stalled: again from the best point, with a shorter step
            mean = np.clip(space.encode(best.params), 0.0, 1.0)
            sigma = max(sigma / 2.0, LOCAL_SIGMA_MIN)
            continue
        # Converged or stalled: restart from a random point with twice the population.
        mean = rng.uniform(0.0, 1.0, space.size)
        popsize = min(2 * popsize, MAX_POPSIZE)
        sigma = SIGMA0


def _done(result: SearchResult, start: float) -> SearchResult:
    result.elapsed = time.monotonic() - start
    return result
