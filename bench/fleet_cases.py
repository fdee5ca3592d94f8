"""fleet_cases.py — the controller fleets (vorn.CFDLFleet, PFDLFleet, FFDLFleet) per member
step at several sizes, beside a Python loop over controller objects, the same step in NumPy,
a numba loop (when installed) and the time NumPy takes to copy the fleet's state once."""

from __future__ import annotations

import numpy as np

import vorn
from bench import fleet_peers
from bench.timing import Case, Comparison

# (label, fleet class, single class, l_y or None for the compact form, l_u, full form)
FORMS = (
    ("CFDL", vorn.CFDLFleet, vorn.CFDLController, None, 1, False),
    ("PFDL l_u=2", vorn.PFDLFleet, vorn.PFDLController, 0, 2, False),
    ("PFDL l_u=4", vorn.PFDLFleet, vorn.PFDLController, 0, 4, False),
    ("FFDL l_y=l_u=2", vorn.FFDLFleet, vorn.FFDLController, 2, 2, True),
)
OBJECTS_UP_TO = 10_000  # a Python loop over objects is linear in n; larger sizes add nothing


def state_doubles(fleet) -> int:
    """The doubles of a fleet's whole state, as its pickle state holds them."""
    return sum(np.asarray(v).size for v in fleet.__getstate__().values() if isinstance(v, np.ndarray))


def name(label: str, impl: str, n: int) -> str:
    return f"fleet {label} n={n}: {impl}, per member"


def add(cases: list[Case], cmps: list[Comparison], sizes: tuple[int, ...]) -> None:
    numba = fleet_peers.have_numba()
    for label, fleet_cls, single_cls, l_y, l_u, full in FORMS:
        orders = {} if l_y is None else ({"l_y": l_y, "l_u": l_u} if full else {"l_u": l_u})
        for n in sizes:
            rng = np.random.default_rng(n)
            y = rng.uniform(-1, 1, n)
            ns = {"f": fleet_cls(n, u_min=-10.0, u_max=10.0, **orders), "y": y, "yd": 1.0, "out": np.empty(n),
                  "np_fleet": fleet_peers.NumpyFleet(n, l_y, l_u, full)}
            ours = name(label, "vorn", n)
            cases.append(Case(ours, "arrays", "f.update(y, yd, out=out)", ns, per=n))
            cases.append(Case(name(label, "NumPy", n), "arrays", "np_fleet.update(y, yd)", ns, per=n))
            cmps.append(Comparison(ours, name(label, "NumPy", n), "speedup"))
            if numba:
                ns["nb_fleet"] = fleet_peers.NumbaFleet(n, l_y, l_u, full)
                cases.append(Case(name(label, "numba", n), "arrays", "nb_fleet.update(y, yd)", ns, per=n))
                # The target: no slower than the numba loop at 10^4 members.
                target = 1.0 if n == 10_000 and label in ("CFDL", "PFDL l_u=2") else None
                cmps.append(Comparison(ours, name(label, "numba", n), "ratio", target))
            if n <= OBJECTS_UP_TO:
                ns["objects"] = [single_cls(u_min=-10.0, u_max=10.0, **orders) for _ in range(n)]
                ns["ys"] = y.tolist()
                ns["step"] = (lambda objs, ys, yd: [c.update(v, yd) for c, v in zip(objs, ys)])
                cases.append(Case(name(label, "object fleet", n), "arrays", "step(objects, ys, yd)", ns, per=n))
                cmps.append(Comparison(ours, name(label, "object fleet", n), "speedup"))
            if n == max(sizes) and n >= 100_000:
                # The memory-bandwidth bound: one copy of as many doubles as the fleet's state.
                ns["src"], ns["dst"] = np.ones(state_doubles(ns["f"])), np.empty(state_doubles(ns["f"]))
                copy = name(label, "NumPy copy of the state", n)
                cases.append(Case(copy, "arrays", "np.copyto(dst, src)", {**ns, "np": np}, per=n))
                cmps.append(Comparison(ours, copy, "ratio", 1.5))
