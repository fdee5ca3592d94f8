"""tune.py: `vorn.tune`, the search for a controller's parameters on a plant.

    tune(form, plant, setpoint, *, budget=None, seed=0, scenarios=None, noise=0.0,
         objective="iae", bounds=None, l_u=None, l_y=None, u_min=None, u_max=None,
         executor=None, start=None, spread=0.1, pid=True, max_generations=None,
         max_evaluations=None, progress=None, on_interrupt="raise",
         operating_point="plant", identify=True, signs=None) -> Tuning

With `identify` a bump test on the plant (vorn.tuning.identify.bump_test) comes first: its
dead time moves the range of `l_u` up, and its gain's sign is initial_phi's and the PID's
unless a `start` says otherwise (`Tuning.identified`). Logged samples instead
(`identify=vorn.tuning.Logged(u, y)`, or a (u, y) pair) give the dead time and sign without
touching the plant (vorn.tuning.identify.from_data). `objective` is a string objective or a
`vorn.Objective` (vorn.tuning.objective); under a string objective, with the PID, a fifth of
the adaptive controller's share is kept for the calm-loop rule (vorn.tuning.calm). What the
caller should know of the result (values on a bound, the calm rule's choice) is in
`Tuning.warnings`.

Each generation of CMA-ES candidates is costed by one closed loop of candidates × scenarios
members (or one per worker of `executor`). Every scenario draws its own measurement noise
(standard deviation `noise`); on a built-in plant the scenarios after the first, the
nominal plant, also spread its coefficients by up to ±`spread`. With
`pid` the budget is shared evenly between the adaptive controller and a PID tuned on the
same runs, so both searches get the same time and the whole call takes about `budget`
seconds. Without a `budget` the call takes 30 s, unless `max_generations` or
`max_evaluations` is given: then each search runs to its count whatever the time, so that a
seeded search gives the same result on any machine (`max_evaluations` must allow one
generation, 16 candidates).

With `noise` and no `scenarios`, NOISY_SCENARIOS (8) scenarios are used (1 without noise).
Whenever the scenarios are random (noise, or spread plants), the winner is costed again on
fresh scenarios the search never saw: `Tuning.held_out_cost`, the cost to expect on the next
draw, beside the tuned `cost`, which the search has fitted to its own draws.

`operating_point`: "plant" (the default) starts every candidate at the plant's initial output
(its `reset` value; see `vorn.start`), None at zero. It is `simulate`'s `start`; the name
`start` here is the search's warm start. The built-in plants rest at zero, where both agree.

The clock is read between generations, and a generation starts only when, at the last one's
pace, it ends within its search's share; the class defaults are costed inside the first
generation. A call thus ends within its budget plus the error of that prediction (at most one
generation per search). A budget whose share the first generation alone overruns is refused
with a ValueError after that generation, naming a budget that fits.

An executor's failures are errors, not fallbacks: a plant that raises in a worker is handled
there as here, but `submit` or a future raising, or a future returning anything but its
chunk's costs, raises a RuntimeError (vorn.tuning.evaluate.ExecutorError) naming the executor.
"""

from __future__ import annotations

import math
import os
import time
from concurrent.futures import Executor
from typing import Any, Callable, Mapping, Sequence

import numpy as np

import vorn.plants as builtin
from vorn.forms import FORMS, PARAMETERS, SISO
from vorn.loop.metrics import DIVERGED_COST, RAISED_COST
from vorn.loop.pid import PID
from vorn.loop.simulate import schedule
from vorn.loop.start import check_start
from vorn.tuning import calm, evaluate, mimo_tune, weights
from vorn.tuning.identify import BUMP_TEST, Identified, Logged, bump_test, check_identify, from_data
from vorn.tuning.objective import check_objective
from vorn.tuning.mimo_result import mimo_result
from vorn.tuning.result import PIDTuning, Tuning
from vorn.tuning.setup import Setup
from vorn.tuning.search import POPSIZE, BudgetTooSmall, Progress, SearchResult, cma_search, import_cma
from vorn.tuning.space import Dimension, SearchSpace, build_space
from vorn.values import real_array

# Scenarios by default with measurement noise: the mean cost over S draws has 1/sqrt(S) of one
# draw's spread, so 8 draws cut the luck of the draw to about a third for 8 times the members
# per generation (the loop is batched, so rather less time); without noise one run is exact.
NOISY_SCENARIOS = 8


def default_scenarios(noise: float) -> int:
    """The number of scenarios `tune` uses when it is not told: NOISY_SCENARIOS with noise."""
    return NOISY_SCENARIOS if noise > 0.0 else 1


# The wall-clock seconds of a call that gives neither a budget nor a count to stop at.
DEFAULT_BUDGET = 30.0
# The PID's default gain bounds (per sample, positive plant gain; flipped for a negative one).
PID_BOUNDS = {"kp": (1e-3, 10.0), "ki": (1e-4, 10.0), "kd": (1e-4, 10.0)}


def _check_budget(budget: Any, counted: bool) -> float:
    """The call's wall-clock budget; none at all when a count ends the searches instead."""
    if budget is None:
        return math.inf if counted else DEFAULT_BUDGET
    try:
        value = float(budget)
    except (TypeError, ValueError):
        raise TypeError(f"budget must be a number of seconds, not {budget!r}") from None
    if not (value > 0.0 and math.isfinite(value)):
        raise ValueError(f"budget must be a positive, finite number of seconds, not {budget!r}")
    return value


def _check_count(name: str, value: Any, low: int = 1) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < low:
        raise ValueError(f"{name} must be a whole number of at least {low}, not {value!r}")
    return int(value)


def _setpoint(setpoint: Any, plant: Any) -> np.ndarray:
    if isinstance(setpoint, (int, np.integer)) and not isinstance(setpoint, bool):
        steps = _check_count("the number of steps", setpoint, 2)
        target = plant if isinstance(plant, str) else type(plant)
        return schedule(target, steps)
    yd = np.array(real_array(setpoint, "the set point"))
    if yd.ndim != 1 or len(yd) < 2:
        raise ValueError(f"the set point must be a 1-D array of at least 2 samples (or a number of "
                         f"steps for a built-in plant), not shape {yd.shape}")
    if not np.isfinite(yd).all():
        raise ValueError("the set point must be finite")
    return yd


def _plant(plant: Any) -> Any:
    if isinstance(plant, str):
        if plant not in builtin.PLANTS:
            raise ValueError(f"unknown plant {plant!r}; the built-in plants are {', '.join(builtin.PLANTS)}")
        return plant
    if not (callable(getattr(plant, "reset", None)) and callable(getattr(plant, "step", None))):
        raise TypeError(f"the plant must be a built-in plant's name or an object with reset(n) and "
                        f"step(u), not {type(plant).__name__}")
    return plant


def _start(form: str, start: Any, l_y: int | None) -> dict[str, Any]:
    """Constructor keywords to start from: a mapping of them, a number (initial_phi), or an
    estimate vector from `initial_phi_from_data` (its entry of the newest input increment)."""
    if start is None:
        return {}
    if isinstance(start, Mapping):
        return dict(start)
    phi = np.atleast_1d(real_array(start, "start"))
    if phi.ndim != 1 or len(phi) == 0 or not np.isfinite(phi).all():
        raise ValueError("start must be a mapping of parameters, a number or a finite estimate vector")
    if form == "ffdl" and len(phi) > 1 and l_y is None:
        raise ValueError("an FFDL estimate vector as start needs l_y, to find its input entries")
    s = int(l_y or 0) if form == "ffdl" and len(phi) > 1 else 0
    if s >= len(phi):
        raise ValueError(f"the estimate vector has {len(phi)} entries; l_y = {l_y} leaves no input entry")
    return {"initial_phi": float(phi[s])}


def _class_defaults(form: str, space: SearchSpace) -> dict[str, Any]:
    """The class defaults as a point of `space`, initial_phi with the space's sign."""
    values = SISO[form].single().__getnewargs__()
    params = dict(zip(PARAMETERS, values))
    params["initial_phi"] = _sign(space) * abs(params["initial_phi"])
    return params


def _sign(space: SearchSpace) -> float:
    for d in space.dimensions:
        if d.name == "initial_phi":
            return -1.0 if d.high <= 0.0 else 1.0
    return -1.0 if space.fixed.get("initial_phi", 1.0) < 0.0 else 1.0


def _pid_space(sign: float, u_min: float | None, u_max: float | None) -> SearchSpace:
    dims = []
    for name, (low, high) in PID_BOUNDS.items():
        if sign < 0.0:
            low, high = -high, -low
        dims.append(Dimension(name, low, high, log=True))
    fixed = {k: v for k, v in (("u_min", u_min), ("u_max", u_max)) if v is not None}
    return SearchSpace("pid", tuple(dims), fixed)


def _workers(executor: Executor | None) -> int:
    if executor is None:
        return 1
    count = getattr(executor, "_max_workers", None)
    client = getattr(executor, "_client", None)
    if count is None and client is not None:
        count = sum(client.nthreads().values())
    return int(count or os.cpu_count() or 1)


class _Coster:
    """The cost function the search calls: one generation in, costs out. Candidates that make
    the plant raise cost RAISED_COST (see evaluate.costs); a tuning where every candidate of
    the first generation raised, or diverged, stops with an error. Points given as `extra`
    ride along in the first generation's closed loop (their costs land in `extra_costs`), so
    that costing them takes no time of its own. `front` keeps, for every input variation,
    the cheapest candidate met (the calm rule looks there for a calm loop)."""

    def __init__(self, problem: evaluate.Problem, executor: Executor | None, workers: int,
                 extra: Sequence[dict[str, Any]] = ()) -> None:
        self.problem = problem
        self.executor = executor
        self.workers = workers
        self.generations = 0
        self.extra = list(extra)
        self.extra_costs: np.ndarray | None = None
        self.front = calm.Front()

    def __call__(self, candidates: Sequence[dict[str, Any]]) -> np.ndarray:
        extra, self.extra = self.extra, []
        values, variations, error = evaluate.costs(self.problem, [*candidates, *extra], self.executor,
                                                   self.workers)
        if extra:
            values, self.extra_costs = values[:len(candidates)], values[len(candidates):]
        self.generations += 1
        if self.generations == 1:
            self._check_first(values, error)
        self.front.add(values, variations[:len(candidates)], candidates, DIVERGED_COST)
        return values

    def _check_first(self, values: np.ndarray, error: str | None) -> None:
        if (values >= RAISED_COST).all() and error is not None:
            raise ValueError(f"the plant raised on every candidate: {error}")
        if (values >= DIVERGED_COST).all():
            raise ValueError("every candidate of the first generation diverged (an output beyond 1e6 "
                             "or not finite): check the plant, the set point and the sign of "
                             "initial_phi's bounds")


def _check_space(space: SearchSpace, cls: Any) -> None:
    """Refuses, before any search, bounds or fixed parameters that the class itself refuses:
    every candidate lies between the space's two corners, so building both checks them all."""
    for corner in (0.0, 1.0):
        params = space.decode(np.full(space.size, corner))
        try:
            cls(**weights.constructor_args(params))
        except (ValueError, TypeError, OverflowError, MemoryError) as error:
            name = getattr(cls, "func", cls).__name__
            raise ValueError(f"{name} refuses the tuner's parameters "
                             f"({', '.join(f'{k}={v!r}' for k, v in params.items())}): {error}") from None


def _coefficients(plant: Any, scenarios: int, spread: float, rng: np.random.Generator) -> dict[str, np.ndarray] | None:
    if not isinstance(plant, str) or scenarios == 1 or spread == 0.0:
        return None
    nominal = builtin.PLANTS[plant].coefficients
    out = {}
    for key, value in nominal.items():
        r = rng.uniform(-1.0, 1.0, scenarios)
        r[0] = 0.0  # scenario 0: the nominal plant
        out[key] = value * (1.0 + spread * r)
    return out


def tune(form: str, plant: Any, setpoint: Any, *, budget: float | None = None, seed: int = 0,
         scenarios: int | None = None, noise: float = 0.0, objective: Any = "iae",
         bounds: Mapping[str, Any] | None = None, l_u: int | None = None, l_y: int | None = None,
         u_min: float | None = None, u_max: float | None = None, executor: Executor | None = None,
         start: Any = None, spread: float = 0.1, pid: bool = True,
         max_generations: int | None = None, max_evaluations: int | None = None,
         progress: Callable[[Progress], None] | None = None, on_interrupt: str = "raise",
         operating_point: str | None = "plant", identify: bool | Logged | Any = True,
         signs: Any = None) -> Tuning:
    """Searches the parameters of a `form` controller ("cfdl", "pfdl", "ffdl") that minimise
    the tracking objective on `plant` along `setpoint`; see the module's docstring."""
    if form not in FORMS:
        raise ValueError(f"unknown form {form!r}: expected one of {', '.join(FORMS)}")
    terms = check_objective(objective)
    objective_name, how = terms.measure, terms.aggregate
    operating_point = check_start(operating_point)
    budget = _check_budget(budget, max_generations is not None or max_evaluations is not None)
    seed = _check_count("seed", seed, 0)
    noise = builtin.check_noise(noise)
    scenarios = _check_count("scenarios", default_scenarios(noise) if scenarios is None else scenarios)
    spread = float(spread)
    if not 0.0 <= spread < 1.0:
        raise ValueError(f"spread must be at least 0 and below 1, not {spread}")
    if on_interrupt not in ("raise", "return"):
        raise ValueError(f"on_interrupt must be 'raise' or 'return', not {on_interrupt!r}")
    if max_generations is not None:
        _check_count("max_generations", max_generations)
    if max_evaluations is not None:  # below one generation, nothing would be evaluated
        _check_count("max_evaluations (one generation is 16 candidates)", max_evaluations, POPSIZE)
    if executor is not None and not callable(getattr(executor, "submit", None)):
        raise TypeError(f"executor must be a concurrent.futures.Executor, not {type(executor).__name__}")
    identify = check_identify(identify)
    dim = mimo_tune.dimension(plant, setpoint)
    if dim > 1:
        if isinstance(identify, Logged):
            raise ValueError("logged data identifies a SISO plant; a MIMO plant's channels are found by a "
                             "bump test each (identify=True) or given as signs=")
        prepared = mimo_tune.setup(form, plant, setpoint, dim, bounds=bounds, l_u=l_u, l_y=l_y, u_min=u_min,
                                   u_max=u_max, start=start, identify=identify, signs=signs,
                                   operating_point=operating_point, pid_bounds=PID_BOUNDS)
    elif signs is not None:
        raise ValueError("signs= gives the input sign of each channel of a MIMO plant; a SISO plant's sign "
                         "is initial_phi's (start= or bounds=)")
    else:
        prepared = _siso_setup(form, plant, setpoint, bounds, l_u, l_y, u_min, u_max, start, identify)
    plant, yd, space, pid_space = prepared.plant, prepared.yd, prepared.space, prepared.pid_space
    identified = prepared.identified
    x0 = space.encode(prepared.begin) if prepared.begin else None
    _check_space(space, prepared.single)
    if pid:
        _check_space(pid_space, prepared.pid_single)
    rng = np.random.default_rng(np.random.SeedSequence([seed, 0x70E]))
    channels = () if dim == 1 else (dim,)
    problem = evaluate.Problem(form, plant, len(yd), yd,
                               noise * rng.standard_normal((len(yd), scenarios, *channels)) if noise else None,
                               _coefficients(plant, scenarios, spread, rng), scenarios,
                               objective_name, how, float(space.fixed.get("u0", 0.0)), operating_point,
                               None if terms.plain else terms, dim=dim, signs=prepared.signs)
    # The class defaults (with the same input limits) are costed in the first generation's loop.
    coster = _Coster(problem, executor, _workers(executor), extra=[dict(prepared.extra)])
    import_cma()
    # The clock runs from here (after the optimiser's import, which can take a second): the
    # adaptive controller's search ends at its share of the budget, the PID's at the whole.
    began = time.monotonic()
    share = budget / 2.0 if pid else budget
    calm_rule = pid and terms.plain  # a part of the adaptive share is kept for the calm search
    first = share * (1.0 - calm.CALM_SHARE) if calm_rule else share
    common: dict[str, Any] = dict(seed=seed, max_generations=max_generations,
                                  max_evaluations=max_evaluations, progress=progress,
                                  on_interrupt=on_interrupt)
    try:
        found = cma_search(space, coster, budget=began + first - time.monotonic(), x0=x0, stage=form,
                           inject=[prepared.defaults], strict_budget=True, **common)
    except BudgetTooSmall as slow:
        need = slow.took * (budget / first) * 1.5
        raise ValueError(f"a budget of {budget:g} s is too small for this loop: one generation of the "
                         f"{form} search took {slow.took:.3g} s, more than its {slow.budget:.3g} s "
                         + ("(its share: the PID gets half the budget)" if pid else "")
                         + f"; give a budget of at least {need:.2g} s, or max_generations without "
                         f"a budget") from None
    assert found.generations and coster.extra_costs is not None  # a result is always evaluated
    default_cost = float(coster.extra_costs[0])
    pid_result: PIDTuning | None = None
    notes: list[str] = []
    if pid and not found.interrupted:
        pid_problem = evaluate.Problem(**{**problem.__dict__, "form": "pid"})
        pid_found = _search_pid(pid_problem, executor, pid_space,
                                began + budget - (share - first) - time.monotonic(), common)
        pid_result = PIDTuning(pid_found.params, pid_found.cost)
        found.interrupted = pid_found.interrupted
        if calm_rule and not found.interrupted and pid_found.cost < DIVERGED_COST:
            try:
                notes = _calm(problem, space, found, pid_found.params, executor, began + budget, common,
                              coster.front)
            except KeyboardInterrupt:
                if on_interrupt != "return":
                    raise
                found.interrupted = True  # the winner as the adaptive search left it
    notes = space.edge_warnings(found.params) + notes
    elapsed = time.monotonic() - began
    held_out = _held_out_cost(problem, found.params, noise, spread, seed, executor) \
        if noise or problem.coefficients is not None else None
    if dim > 1:
        return mimo_result(form, found, default_cost, pid_result, elapsed, (objective_name, how), plant, yd,
                           noise, seed, operating_point, held_out, identified, notes, dim, prepared.signs)
    return Tuning(form, found.params, found.cost, default_cost, pid_result, found.history,
                  found.evaluations, found.generations, elapsed, found.interrupted,
                  (objective_name, how), plant, yd, noise, seed, operating_point, held_out,
                  identified, notes,
                  identified.y0 if identified and identified.source == BUMP_TEST else _rest_output(problem))


def _siso_setup(form: str, plant: Any, setpoint: Any, bounds: Mapping[str, Any] | None, l_u: int | None,
                l_y: int | None, u_min: float | None, u_max: float | None, start: Any,
                identify: bool | Logged) -> Setup:
    """The SISO tuning's plant, set point and spaces: initial_phi's sign, and the PID's, from a
    start or the bump test (positive without either)."""
    plant = _plant(plant)
    yd = _setpoint(setpoint, plant)
    begin = _start(form, start, l_y)
    identified = from_data(identify) if isinstance(identify, Logged) else \
        _identify(plant, len(yd), bounds, u_min, u_max) if identify else None
    sign = float(np.sign(begin.get("initial_phi", identified.gain_sign if identified else 1.0)) or 1.0)
    space = build_space(form, bounds, l_u=l_u, l_y=l_y, u_min=u_min, u_max=u_max,
                        initial_phi_sign=sign, dead_time=identified.dead_time if identified else 0)
    limits = {k: v for k, v in (("u_min", u_min), ("u_max", u_max)) if v is not None}
    return Setup(plant, yd, begin, identified, space, _pid_space(_sign(space), u_min, u_max),
                 SISO[form].single, PID, _class_defaults(form, space), limits)


def _calm(problem: evaluate.Problem, space: SearchSpace, found: SearchResult, pid: Mapping[str, Any],
          executor: Executor | None, deadline: float, common: dict[str, Any],
          front: calm.Front | None = None) -> list[str]:
    """The calm-loop rule (vorn.tuning.calm) applied to `found`, which it may change; its notes.
    Each measurement is one closed loop here; the calm search gets the time up to `deadline`
    less one such loop, for the measurement of its result. A winner that is calm already is
    polished instead: the same local search, from it, may only improve on it.
    A chattering winner's calm search starts, locally, from the point of `front` (the
    adaptive search's cheapest candidate at every input variation) of least capped cost,
    which is calm or near it; when that is the winner itself, it leaves the winner by a
    search of the usual kind. The verdict then weighs the cheapest calm loop costed
    (`_calm_choice`)."""
    began = time.monotonic()
    _, (variation,), pid_variation = evaluate.costs_and_variations(problem, [found.params], pid)
    variation = float(variation)
    assert pid_variation is not None
    took = time.monotonic() - began
    if found.cost >= DIVERGED_COST:
        return []
    limit = calm.CALM_RATIO * pid_variation
    chatters = variation > limit
    point = front.cheapest(limit) if chatters and front is not None else None
    start = point if point is not None and point[0] < variation else None
    picked = found.params if start is None else start[2]
    # A chattering winner with no calmer loop beside it: the calm search must leave its valley.
    leave = chatters and start is None
    if deadline - time.monotonic() < 2.0 * took:  # no time for a generation and its measurement
        return _calm_choice(problem.objective, found, variation, pid_variation, front) if chatters else []
    capped = evaluate.Problem(**{**problem.__dict__, "variation_cap": limit})
    # With counts instead of a budget, the calm search's count stands to the search's as its
    # share of the time would: CALM_SHARE / (1 - CALM_SHARE) of it.
    part = calm.CALM_SHARE / (1.0 - calm.CALM_SHARE)
    counts = {key: None if common[key] is None else max(low, int(common[key] * part))
              for key, low in (("max_generations", 1), ("max_evaluations", POPSIZE))}
    calm_coster = _Coster(capped, executor, _workers(executor))
    calm_found = cma_search(space, calm_coster,
                            budget=deadline - took - time.monotonic(), x0=space.encode(picked),
                            inject=[found.params] if start is None else [found.params, picked],
                            stage=f"{space.form} {'calm' if chatters else 'polish'}",
                            sigma=calm.LEAVE_SIGMA if leave else calm.CALM_SIGMA, local=not leave,
                            popsize=calm.CALM_POPSIZE, **{**common, **counts})
    found.interrupted = calm_found.interrupted  # its counts are its own: `generations` is the search's
    # Under the capped cost a loop a little above the limit can beat a calm one, so the calm
    # search's result may chatter where it passed calm loops: its cheapest calm one is
    # measured beside it, under the plain cost.
    passed = calm_coster.front.calmest(limit) if chatters else None
    tried = [calm_found.params] + ([passed[2]] if passed is not None else [])
    tried_costs, tried_variations, _ = evaluate.costs_and_variations(problem, tried)
    calm_cost, calm_variation = float(tried_costs[0]), float(tried_variations[0])
    if not chatters:
        if calm_variation <= limit and calm_cost < found.cost:
            found.params, found.cost = calm_found.params, float(calm_cost)
        return []
    return _calm_choice(problem.objective, found, variation, pid_variation, front,
                        [(float(v), float(c), params) for v, c, params in zip(tried_variations, tried_costs, tried)])


def _calm_choice(measure: str, found: SearchResult, variation: float, pid_variation: float,
                 front: calm.Front | None, measured: Sequence[tuple[float, float, dict[str, Any]]] = ()) -> list[str]:
    """The verdict on a chattering winner against the cheapest calm loop costed under the
    plain cost: the adaptive search's `front` within the calm limit (CALM_RATIO times the
    PID's variation), and the calm search's loops `measured` (variation, cost, params) that
    are within it; `found` becomes that loop when the verdict chooses it. Its notes."""
    limit = calm.CALM_RATIO * pid_variation
    calm_ones = [point for point in measured if point[0] <= limit]
    point = front.calmest(limit) if front is not None else None
    if point is not None:
        calm_ones.append(point)
    best = min(calm_ones, key=lambda point: point[1], default=None)
    chosen, notes = calm.verdict(measure, found.cost, variation, pid_variation,
                                 None if best is None else best[1], None if best is None else best[0])
    if chosen and best is not None:
        found.params, found.cost = best[2], best[1]
    return notes


def _identify(plant: Any, steps: int, bounds: Mapping[str, Any] | None, u_min: float | None,
              u_max: float | None) -> Identified | None:
    """The bump test on the plant (a fresh copy of a built-in one), from its input u0."""
    u0 = (bounds or {}).get("u0", 0.0)
    u0 = float(u0) if isinstance(u0, (int, float, np.integer, np.floating)) else 0.0
    target = builtin.make(plant, steps, rng=np.random.default_rng(0)) if isinstance(plant, str) else plant
    try:
        return bump_test(target, u0, u_min, u_max)
    except KeyboardInterrupt:
        raise
    except Exception:  # a plant that fails here fails the search's loops too, which say how
        return None


def _rest_output(problem: evaluate.Problem) -> float | None:
    try:
        return float(np.asarray(problem.make_plant().reset(1), dtype=float).reshape(-1)[0])
    except (ValueError, TypeError, ArithmeticError, AttributeError):  # the file then records no level
        return None


def _held_out_cost(problem: evaluate.Problem, params: Mapping[str, Any], noise: float, spread: float,
                   seed: int, executor: Executor | None) -> float:
    """The winner's cost on as many fresh scenarios as it was tuned on (at least
    NOISY_SCENARIOS): noise and plant spreads drawn from a stream the search never saw."""
    count = max(problem.scenarios, NOISY_SCENARIOS)
    rng = np.random.default_rng(np.random.SeedSequence([seed, 0x70E, 1]))
    fresh_noise = noise * rng.standard_normal((problem.steps, count, *problem.channels)) if noise else None
    coefficients = None
    if problem.coefficients is not None:  # every held-out scenario spreads the plant: none is nominal
        drawn = _coefficients(problem.plant, count + 1, spread, rng)
        coefficients = None if drawn is None else {k: v[1:] for k, v in drawn.items()}
    fresh = evaluate.Problem(**{**problem.__dict__, "noise": fresh_noise, "coefficients": coefficients,
                                "scenarios": count})
    values, _, _ = evaluate.costs(fresh, [dict(params)], executor, 1)
    return float(values[0])


def _search_pid(problem: evaluate.Problem, executor: Executor | None, space: SearchSpace,
                budget: float, common: dict[str, Any]) -> SearchResult:
    coster = _Coster(problem, executor, _workers(executor))
    coster.generations = 1  # a PID that diverges everywhere is a result, not an error
    return cma_search(space, coster, budget=budget, stage="pid", **common)
