"""timing.py — measuring many statements in one run so that their ratios hold on a noisy
machine: every round samples every case once, in a rotating order, and ratios are taken
within a round before their median is formed."""

from __future__ import annotations

import statistics
import timeit
from dataclasses import dataclass, field


@dataclass
class Case:
    """One measured statement. `per` is the number of calls that one execution makes."""

    name: str
    group: str
    stmt: str
    ns: dict
    per: int = 1
    samples: list[float] = field(default_factory=list)  # seconds per call, one per round
    number: int = 0  # executions per sample

    def timer(self) -> timeit.Timer:
        return timeit.Timer(self.stmt, globals=self.ns)


@dataclass
class Comparison:
    """`case` against `ref`. kind "ratio": case/ref, at most `target` to pass;
    kind "speedup": ref/case, at least `target` to pass. No target: for information."""

    case: str
    ref: str
    kind: str = "ratio"
    target: float | None = None


def calibrate(timer: timeit.Timer, min_time: float) -> int:
    """Executions per sample so that one sample takes at least `min_time` seconds."""
    number = 1
    while True:
        t = timer.timeit(number)
        if t >= min_time:
            return number
        # Aim a little past min_time; at most a hundredfold step at once.
        grow = min_time * 1.25 / t if t > 0 else 100.0
        number = max(number + 1, int(number * min(grow, 100.0)))


def measure(cases: list[Case], repeat: int, min_time: float) -> None:
    """Fills every case's samples; calibrating a case also warms it up."""
    timers = [c.timer() for c in cases]
    for c, t in zip(cases, timers):
        c.number = calibrate(t, min_time)
        c.samples = []
    n = len(cases)
    for r in range(repeat):
        for k in range(n):
            i = (k + r) % n
            c = cases[i]
            c.samples.append(timers[i].timeit(c.number) / (c.number * c.per))


def summary(samples: list[float]) -> dict:
    return {"median": statistics.median(samples), "min": min(samples), "max": max(samples)}


def compare(cmp: Comparison, by_name: dict[str, Case]) -> dict:
    """The round-by-round ratio of a comparison: median, min, max, and whether it passes."""
    a, b = by_name[cmp.case].samples, by_name[cmp.ref].samples
    if cmp.kind == "speedup":
        ratios = [rb / ra for ra, rb in zip(a, b)]
    else:
        ratios = [ra / rb for ra, rb in zip(a, b)]
    s = summary(ratios)
    met = None
    if cmp.target is not None:
        met = s["median"] >= cmp.target if cmp.kind == "speedup" else s["median"] <= cmp.target
    return {"case": cmp.case, "ref": cmp.ref, "kind": cmp.kind, "target": cmp.target,
            "ratio": s["median"], "ratio_min": s["min"], "ratio_max": s["max"], "met": met}
