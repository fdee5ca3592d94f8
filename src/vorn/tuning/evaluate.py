"""evaluate.py: the cost of a generation of candidates: the controllers built for candidates ×
scenarios members, one closed loop for them all (or one per worker of an executor), and the
cost of every candidate over its scenarios.

Members are laid out candidate by candidate, scenarios within: member c·S + s is candidate c
on scenario s. A scenario is the same for every candidate (same noise, same plant
coefficients), so candidates are compared on equal terms, and the split across workers
does not change any cost.

On a MIMO plant (`Problem.dim` > 1) the members are MIMO fleets' members (or a decentralised
PID's loops, `dim` per member), the set point and the noise carry a channel axis, and a
member's cost is the sum over its channels of each channel's cost, taken column by column as
for a SISO member, so that the search still sees one cost per member.
"""

from __future__ import annotations

import copy
import math
from concurrent.futures import Executor
from dataclasses import dataclass
from types import SimpleNamespace
from typing import Any, Mapping, Sequence

import numpy as np

from vorn.forms import MIMO, ORDERS, PARAMETERS, SISO
from vorn.loop.engine import PlantError, Singles, closed_loop
from vorn.loop.metrics import RAISED_COST, aggregate, member_costs
from vorn.loop.pid import PID
from vorn.tuning import weights
from vorn.tuning.calm import capped
from vorn.tuning.mimo_signs import SignedPlant
from vorn.tuning.objective import Objective, objective_costs

# Constructor keywords that a fleet takes per member; the orders are shared by a fleet.
REAL_KEYS = tuple(k for k in PARAMETERS if k not in ORDERS)
# The same for the MIMO classes (their channel count `dim` comes first and is shared too).
MIMO_REAL_KEYS = tuple(k for k in MIMO["cfdl"].parameters if k not in ORDERS and k != "dim")
ORDER_KEYS = ORDERS


def fleet_class(form: str) -> Any | None:
    """The fleet class of `form`, or None when the fleet module is not built."""
    return SISO[form].fleet


class ScenarioPlant:
    """A built-in plant whose copies take per-copy coefficients (one set per scenario, tiled
    over the candidates) at every reset, instead of the plant's own draws."""

    def __init__(self, plant: Any, coefficients: Mapping[str, np.ndarray]) -> None:
        self.plant = plant
        self.coefficients = coefficients

    def reset(self, n: int) -> Any:
        y = self.plant.reset(n)
        repeat = n // len(next(iter(self.coefficients.values())))
        self.plant.c = SimpleNamespace(**{k: np.tile(v, repeat) for k, v in self.coefficients.items()})
        return y

    def step(self, u: Any) -> Any:
        return self.plant.step(u)


@dataclass
class Problem:
    """Everything a worker needs to cost candidates: picklable, plain data and the plant."""

    form: str  # "cfdl", "pfdl", "ffdl" or "pid"
    plant: Any  # a plant object, or a built-in plant's name
    steps: int
    yd: np.ndarray  # (steps,)
    noise: np.ndarray | None  # (steps, scenarios) added to the measurements, or None
    coefficients: dict[str, np.ndarray] | None  # per scenario, for a built-in plant
    scenarios: int
    objective: str
    how: str
    u0: float = 0.0
    start: str | None = "plant"  # where the controllers start: the plant's initial output, or zero
    terms: Objective | None = None  # an objective beyond the plain measure `objective`
    variation_cap: float | None = None  # an input variation above it costs more (vorn.tuning.calm)
    dim: int = 1  # the plant's channels; yd is (steps, dim) and noise (steps, scenarios, dim) when > 1
    signs: tuple[float, ...] | None = None  # per channel, the sign its input is multiplied by

    @property
    def channels(self) -> tuple[int, ...]:
        """The channel axis of the set point and the records: () for SISO, (dim,) for MIMO."""
        return () if self.dim == 1 else (self.dim,)

    def make_plant(self) -> Any:
        if isinstance(self.plant, str):
            import vorn.plants as plants

            plant: Any = plants.make(self.plant, self.steps, rng=np.random.default_rng(0))
            plant = ScenarioPlant(plant, self.coefficients) if self.coefficients else plant
        else:
            plant = self.plant
        return SignedPlant(plant, self.signs) if self.signs is not None and min(self.signs) < 0.0 else plant


class CandidateRefused(ValueError):
    """A controller class refused a candidate's parameters: the search space's fault, not
    the plant's."""


def controllers(form: str, candidates: Sequence[Mapping[str, Any]], repeat: int, dim: int = 1) -> list[Any]:
    """Batched controllers for every candidate repeated `repeat` times, in candidate order;
    on a plant of `dim` > 1 channels, MIMO fleets or a decentralised PID."""
    try:
        if dim > 1:
            return _mimo_banks(form, candidates, repeat, dim)
        return _build_banks(form, candidates, repeat)
    except (ValueError, TypeError, OverflowError, MemoryError) as error:
        raise CandidateRefused(f"the {form} controller refused a candidate: {error}") from error


def _mimo_banks(form: str, candidates: Sequence[Mapping[str, Any]], repeat: int, dim: int) -> list[Any]:
    if form == "pid":
        return [ChannelLoops(candidates, repeat, dim)]
    fleet = MIMO[form].fleet
    if fleet is None:
        raise ImportError("controller fleets are not built into this installation of vorn")
    return _fleet_banks(lambda n, **kwargs: fleet(n, dim, **kwargs), candidates, repeat, MIMO_REAL_KEYS)


class ChannelLoops:
    """A decentralised PID for every candidate repeated `repeat` times: one loop per channel
    and member, all in one vectorised PID; each candidate's gains hold one value per channel.
    Member i is bit for bit `vorn.PID(..., n=dim)` with its candidate's gains."""

    def __init__(self, candidates: Sequence[Mapping[str, Any]], repeat: int, dim: int) -> None:
        self.members, self.dim = len(candidates) * repeat, dim
        gains = {k: np.concatenate([np.tile(np.broadcast_to(np.asarray(c[k], dtype=float), (dim,)), repeat)
                                    for c in candidates]) for k in ("kp", "ki", "kd")}
        self.pid = PID(**gains, n=self.members * dim)

    def __len__(self) -> int:
        return self.members

    def update(self, y: np.ndarray, yd: np.ndarray) -> np.ndarray:
        """The inputs (members, dim) from the outputs (members, dim) and the set points, one
        row per member or one row of channels for all."""
        points = np.broadcast_to(yd, (self.members, self.dim)).reshape(-1)
        u: np.ndarray = self.pid.update(y.reshape(-1), points)
        return u.reshape(self.members, self.dim)


def _build_banks(form: str, candidates: Sequence[Mapping[str, Any]], repeat: int) -> list[Any]:
    if form == "pid":
        keys = ("kp", "ki", "kd")
        gains = {k: np.repeat([c[k] for c in candidates], repeat) for k in keys}
        first = candidates[0]
        return [PID(**gains, u_min=first.get("u_min"), u_max=first.get("u_max"), n=len(candidates) * repeat)]
    fleet = fleet_class(form)
    if fleet is None:
        return [Singles([weights.single(form, c) for c in candidates for _ in range(repeat)])]
    return _fleet_banks(fleet, candidates, repeat, REAL_KEYS)


def _fleet_banks(fleet: Any, candidates: Sequence[Mapping[str, Any]], repeat: int,
                 real_keys: Sequence[str]) -> list[Any]:
    """Fleets for the candidates, `repeat` members each: one fleet per run of consecutive
    candidates with the same orders, each real parameter a scalar or one per member."""
    banks = []
    start = 0
    # Consecutive candidates with the same orders share a fleet (the caller sorts them).
    while start < len(candidates):
        orders = _orders(candidates[start])
        end = start + 1
        while end < len(candidates) and _orders(candidates[end]) == orders:
            end += 1
        group = candidates[start:end]
        kwargs: dict[str, Any] = {k: v for k, v in zip(ORDER_KEYS, orders) if v is not None}
        for key in real_keys:
            values = [c.get(key) for c in group]
            if any(v is not None for v in values):
                kwargs[key] = values[0] if len(set(map(repr, values))) == 1 else np.repeat(np.array(values, dtype=float), repeat)
        bank = fleet(len(group) * repeat, **kwargs)
        vectors = [c.get(weights.RHO_VECTOR) for c in group]
        if vectors[0] is not None:
            bank.set_rho_vector(np.repeat(np.array(vectors, dtype=float), repeat, axis=0))
        banks.append(bank)
        start = end
    return banks


def _orders(candidate: Mapping[str, Any]) -> tuple[Any, ...]:
    return tuple(candidate.get(k) for k in ORDER_KEYS)


def member_matrices(problem: Problem, candidates: Sequence[Mapping[str, Any]]) -> tuple[np.ndarray, np.ndarray]:
    """(candidates, scenarios) costs and input variations Σ|Δu| of one closed loop of all
    their members."""
    costs, variations, _ = _member_matrices(problem, candidates)
    return costs, variations


def costs_and_variations(problem: Problem, candidates: Sequence[Mapping[str, Any]],
                         pid: Mapping[str, Any] | None = None) -> tuple[np.ndarray, np.ndarray, float | None]:
    """Every candidate's cost (aggregated over the scenarios) and its input's total variation
    Σ|Δu| (the mean over the scenarios), and with `pid` (a PID's gains) that PID's variation,
    all from one closed loop here."""
    matrix, variation, pid_variation = _member_matrices(problem, candidates, pid)
    return aggregate(matrix, problem.how), variation.mean(axis=1), pid_variation


def _member_matrices(problem: Problem, candidates: Sequence[Mapping[str, Any]],
                     pid: Mapping[str, Any] | None = None) -> tuple[np.ndarray, np.ndarray, float | None]:
    """(candidates, scenarios) costs and input variations of one closed loop of all their
    members, and the mean variation of the PID `pid` run in the same loop after them."""
    # Candidates sorted by their orders, so that each fleet holds all those of one pair.
    order = sorted(range(len(candidates)), key=lambda i: tuple(-1 if v is None else v
                                                                for v in _orders(candidates[i])))
    candidates = [candidates[i] for i in order]
    rows = len(candidates) + (pid is not None)
    count = rows * problem.scenarios
    yd = np.broadcast_to(problem.yd[:, None], (problem.steps, count, *problem.channels))
    noise = None if problem.noise is None else np.tile(problem.noise, (1, rows, *(1,) * len(problem.channels)))
    banks = controllers(problem.form, candidates, problem.scenarios, problem.dim)
    if pid is not None:
        banks += controllers("pid", [pid], problem.scenarios, problem.dim)
    run = closed_loop(banks, problem.make_plant(), yd, noise, start=problem.start)
    # Column by column in memory, each member's sums run as they do for a run of it alone,
    # so that a tuned cost is the IAE of the winner's own run to the last bit. A MIMO
    # member's channels are columns of their own (as its run measures them), their costs
    # then summed in channel order.
    columns = count * problem.dim
    y = np.asfortranarray(run.y.reshape(problem.steps, columns))
    u = np.asfortranarray(run.u.reshape(problem.steps, columns))
    targets = run.yd if problem.dim == 1 else np.asfortranarray(run.yd.reshape(problem.steps, columns))
    samples = np.repeat(run.samples, problem.dim)
    if problem.terms is None:
        costs = member_costs(problem.objective, targets, y, u, samples, problem.u0)
    else:
        costs = objective_costs(problem.terms, targets, y, u, samples, problem.u0)
    with np.errstate(all="ignore"):
        each = np.sum(np.abs(np.diff(u, axis=0)), axis=0)
        if problem.dim > 1:
            costs = _channel_sums(costs, problem.dim)
            each = _channel_sums(each, problem.dim)
        if problem.variation_cap is not None:
            costs = capped(costs, each, problem.variation_cap)
        variation = each.reshape(rows, problem.scenarios)
    out = np.empty((len(candidates), problem.scenarios))
    out[order] = costs.reshape(rows, problem.scenarios)[:len(candidates)]
    varied = np.empty_like(out)
    varied[order] = variation[:len(candidates)]
    return out, varied, (float(variation[-1].mean()) if pid is not None else None)


def _channel_sums(values: np.ndarray, dim: int) -> np.ndarray:
    """Per member, the sum of its `dim` channels' values (consecutive), in channel order."""
    by_member = values.reshape(-1, dim)
    total = by_member[:, 0].copy()
    for c in range(1, dim):
        total += by_member[:, c]
    return total


def guarded_cost_matrix(problem: Problem, candidates: Sequence[Mapping[str, Any]]) \
        -> tuple[np.ndarray, np.ndarray, str | None]:
    """member_matrices, and when the loop raised inside the plant, each candidate costed
    alone so that only those that make the plant raise cost RAISED_COST (and an infinite
    variation); with the last such error ("Type: message"), or None. A plant that breaks the
    protocol still raises."""
    try:
        return (*member_matrices(problem, candidates), None)
    except (PlantError, CandidateRefused, KeyboardInterrupt):
        raise
    except Exception as first:
        error = first
    out = np.empty((len(candidates), problem.scenarios))
    varied = np.empty_like(out)
    for i, candidate in enumerate(candidates):
        try:
            (out[i],), (varied[i],) = member_matrices(problem, [candidate])
        except (PlantError, CandidateRefused):
            raise
        except Exception as each:
            error = each
            out[i], varied[i] = RAISED_COST, np.inf
    return out, varied, f"{type(error).__name__}: {error}"


class ExecutorError(RuntimeError):
    """The executor failed to cost a generation: its submit or a future raised, or a future
    returned something else than the costs it was asked for."""


def costs(problem: Problem, candidates: Sequence[Mapping[str, Any]], executor: Executor | None = None,
          workers: int = 1) -> tuple[np.ndarray, np.ndarray, str | None]:
    """The cost of every candidate (its members' costs, averaged over scenarios, or the worst),
    its input's variation Σ|Δu| (the mean over scenarios) and the error of the plant's last
    raise, if any. With an executor, the plant's own errors are caught in the worker as they
    are here; whatever else goes wrong in the executor is an ExecutorError naming it, never a
    silent fallback to costing here."""
    if executor is None or workers <= 1 or len(candidates) < 2:
        matrix, variations, error = guarded_cost_matrix(problem, candidates)
        return aggregate(matrix, problem.how), variations.mean(axis=1), error
    size = math.ceil(len(candidates) / min(workers, len(candidates)))
    chunks = [list(candidates[i:i + size]) for i in range(0, len(candidates), size)]
    name = type(executor).__name__
    results = []
    try:
        futures = [executor.submit(guarded_cost_matrix, copy.deepcopy(problem), chunk) for chunk in chunks]
        results = [f.result() for f in futures]
    except (PlantError, CandidateRefused, KeyboardInterrupt):
        raise
    except Exception as error:
        raise ExecutorError(f"the executor {name} failed to cost a generation: "
                            f"{type(error).__name__}: {error}") from error
    matrices: list[np.ndarray] = []
    varieds: list[np.ndarray] = []
    errors = []
    for chunk, result in zip(chunks, results):
        matrix, varied = _checked_result(result, (len(chunk), problem.scenarios), name)
        matrices.append(matrix)
        varieds.append(varied)
        errors.append(result[2])
    raised = [e for e in errors if e is not None]
    return (aggregate(np.concatenate(matrices), problem.how), np.concatenate(varieds).mean(axis=1),
            (raised[-1] if raised else None))


def _checked_result(result: Any, shape: tuple[int, int], name: str) -> tuple[np.ndarray, np.ndarray]:
    """A worker's (costs, variations, error), checked: costs and variations of `shape`, real,
    no cost NaN."""
    matrix, varied = result[:2] if isinstance(result, tuple) and len(result) == 3 else (None, None)
    if not (isinstance(matrix, np.ndarray) and matrix.dtype == np.float64 and matrix.shape == shape
            and not np.isnan(matrix).any() and isinstance(varied, np.ndarray) and varied.dtype == np.float64
            and varied.shape == shape and (result[2] is None or isinstance(result[2], str))):
        raise ExecutorError(f"the executor {name} returned {type(result).__name__} for a chunk of "
                            f"{shape[0]} candidates, not their costs (float64 arrays of shape {shape})")
    return matrix, varied
