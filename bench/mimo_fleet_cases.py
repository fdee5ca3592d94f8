"""mimo_fleet_cases.py — the MIMO fleets (vorn.MimoPfdlFleet, MimoCfdlFleet, MimoFfdlFleet)
per member step at dim 2 and 4, beside a Python loop over single MIMO controllers and the
same update batched in NumPy (bench/mimo_fleet_peers.py), each with the class defaults."""

from __future__ import annotations

import numpy as np

import vorn
from bench import mimo_fleet_peers
from bench.timing import Case, Comparison

DIMS = (2, 4)
SIZES = (1_000, 10_000)
# (label, fleet class, single class, the NumPy peer's form and orders)
FORMS = (
    ("MIMO PFDL", vorn.MimoPfdlFleet, vorn.MimoPfdlController, {"form": "pfdl", "l_u": 2}),
    ("MIMO CFDL", vorn.MimoCfdlFleet, vorn.MimoCfdlController, {"form": "cfdl"}),
    ("MIMO FFDL", vorn.MimoFfdlFleet, vorn.MimoFfdlController, {"form": "ffdl", "l_y": 1, "l_u": 2}),
)


def name(label: str, impl: str, n: int, dim: int) -> str:
    return f"fleet {label} dim={dim} n={n}: {impl}, per member"


def add(cases: list[Case], cmps: list[Comparison]) -> None:
    for label, fleet_cls, single_cls, peer in FORMS:
        for dim in DIMS:
            for n in SIZES:
                rng = np.random.default_rng(n + dim)
                y, yd = rng.uniform(-1, 1, (n, dim)), np.ones((n, dim))
                ns = {"f": fleet_cls(n, dim), "y": y, "yd": yd, "out": np.empty((n, dim))}
                ours = name(label, "vorn", n, dim)
                cases.append(Case(ours, "arrays", "f.update(y, yd, out=out)", ns, per=n))
                ns["np_fleet"] = mimo_fleet_peers.NumpyMimoFleet(n, dim, **peer)
                numpy_name = name(label, "NumPy einsum", n, dim)
                cases.append(Case(numpy_name, "arrays", "np_fleet.update(y, yd)", ns, per=n))
                cmps.append(Comparison(ours, numpy_name, "speedup", 1.0 if n == 10_000 else None))
                ns["objects"] = [single_cls(dim) for _ in range(n)]
                ns["ys"], ns["yds"] = y.tolist(), yd.tolist()
                ns["step"] = lambda objs, ys, yds: [c.update(a, b) for c, a, b in zip(objs, ys, yds)]
                loop = name(label, "object loop", n, dim)
                cases.append(Case(loop, "arrays", "step(objects, ys, yds)", ns, per=n))
                cmps.append(Comparison(ours, loop, "speedup", 5.0 if n == 10_000 else None))
