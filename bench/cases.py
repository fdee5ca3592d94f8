"""cases.py — what the suite measures, and which figures it compares with which."""

from __future__ import annotations

import importlib.util
import itertools
import math
import pickle
import random
from dataclasses import dataclass

import vorn
from bench import loops, peers
from bench.timing import Case, Comparison

FLOOR = "floor: math.atan2(y, yd)"


@dataclass
class Config:
    groups: tuple[str, ...] = ("siso", "peers", "mimo", "fleet", "arrays", "loop")
    dims: tuple[int, ...] = (2, 4, 8, 32, 128, 256)
    fleet: int = 10_000
    fleet_sizes: tuple[int, ...] = (1, 10, 1_000, 10_000, 100_000, 1_000_000)  # the "arrays" group
    repeat: int = 15
    min_time: float = 0.02  # seconds per sample
    blas_threads: int = 1  # 0: NumPy's own choice


def have_numpy() -> bool:
    return importlib.util.find_spec("numpy") is not None


def have_simple_pid() -> bool:
    return importlib.util.find_spec("simple_pid") is not None


def _siso(cases: list[Case], cmps: list[Comparison]) -> None:
    c, p, f = vorn.CFDLController(), vorn.PFDLController(), vorn.FFDLController()
    ns = {"math": math, "pickle": pickle, "c": c, "p": p, "f": f, "y": 0.3, "yd": 1.0,
          "c_blob": pickle.dumps(c), "p_blob": pickle.dumps(p)}

    def add(name: str, stmt: str) -> str:
        cases.append(Case(name, "siso", stmt, ns))
        return name

    for obj, cls in (("c", "CFDLController"), ("p", "PFDLController"), ("f", "FFDLController")):
        methods = ("update",) if obj == "c" else ("update", "update_logged")
        for m in methods:
            pos = add(f"{cls}.{m}(y, yd)", f"{obj}.{m}(y, yd)")
            kw = add(f"{cls}.{m}(y=y, yd=yd)", f"{obj}.{m}(y=y, yd=yd)")
            # Tuples and lists are built by CFDL's update and by update_logged.
            cmps.append(Comparison(pos, FLOOR, "ratio", 2.5 if (obj == "c" or m == "update_logged") else 1.5))
            cmps.append(Comparison(kw, pos, "ratio", 1.2))
    for name, stmt in (
        ("CFDLController.get_phi()", "c.get_phi()"),
        ("PFDLController.get_phi()", "p.get_phi()"),
        ("CFDLController.set_eta(1.0)", "c.set_eta(1.0)"),
        ("PFDLController.set_rho(0.1)", "p.set_rho(0.1)"),
        ("pickle.dumps(CFDLController)", "pickle.dumps(c)"),
        ("pickle.loads(CFDLController)", "pickle.loads(c_blob)"),
        ("pickle.dumps(PFDLController)", "pickle.dumps(p)"),
        ("pickle.loads(PFDLController)", "pickle.loads(p_blob)"),
    ):
        cmps.append(Comparison(add(name, stmt), FLOOR))


def _peers(cases: list[Case], cmps: list[Comparison]) -> None:
    ns = {"c": peers.CfdlPeer(), "p": peers.PfdlPeer(), "f": peers.FfdlPeer(), "y": 0.3, "yd": 1.0}

    def add(name: str, stmt: str, namespace: dict = ns) -> str:
        cases.append(Case(name, "peers", stmt, namespace))
        return name

    for obj, cls, peer in (("c", "CFDLController", "CfdlPeer"), ("p", "PFDLController", "PfdlPeer"),
                           ("f", "FFDLController", "FfdlPeer")):
        methods = ("update",) if obj == "c" else ("update", "update_logged")
        for m in methods:
            name = add(f"Python {peer}.{m}(y, yd)", f"{obj}.{m}(y, yd)")
            cmps.append(Comparison(f"{cls}.{m}(y, yd)", name, "speedup", 8.0))
    if have_simple_pid():
        from simple_pid import PID

        # sample_time=None: compute on every call instead of returning the last output early.
        pid = PID(1.0, 0.1, 0.05, setpoint=1.0, sample_time=None)
        name = add("simple-pid PID(y)", "pid(y)", {"pid": pid, "y": 0.3})
        cmps.append(Comparison("PFDLController.update(y, yd)", name, "speedup"))


def _mimo(cases: list[Case], cmps: list[Comparison], dims: tuple[int, ...]) -> None:
    import numpy as np

    forms = (("MimoCfdlController", vorn.MimoCfdlController, {}),
             ("MimoPfdlController", vorn.MimoPfdlController, {}),
             ("MimoFfdlController", vorn.MimoFfdlController, {}),
             ("MimoPfdlController(l_u=1)", vorn.MimoPfdlController, {"l_u": 1}))
    rng = random.Random(7)
    for dim in dims:
        # initial_phi = 1 keeps det(initial_phi_matrix) = 1 at every dim, so the compact form
        # runs its determinant-sign rule on every call (0.5**dim would fall below eps).
        yd = [1.0] * dim
        ys = [[1.0 + rng.uniform(-0.1, 0.1) for _ in range(dim)] for _ in range(32)]
        ns = {"yd": yd, "ys": itertools.cycle(ys), "yd_a": np.array(yd),
              "ys_a": itertools.cycle([np.array(v) for v in ys]),
              "peer": peers.MimoPfdlPeer(dim, initial_phi=1.0),
              "m": np.eye(dim) + np.array([[rng.uniform(-0.1, 0.1) for _ in range(dim)] for _ in range(dim)]),
              "det": np.linalg.det}
        peer = f"NumPy partial form dim={dim}"
        cases.append(Case(peer, "mimo", "peer.update(next(ys_a), yd_a)", ns))
        for k, (label, cls, extra) in enumerate(forms):
            ns[f"ctl{k}"] = cls(dim, initial_phi=1.0, **extra)
            name = f"{label}.update dim={dim}"
            cases.append(Case(name, "mimo", f"ctl{k}.update(next(ys), yd)", ns))
            if k < 3:
                cmps.append(Comparison(name, peer, "speedup", 1.0))
        arrays = f"MimoPfdlController.update dim={dim}, ndarray arguments"
        cases.append(Case(arrays, "mimo", "ctl1.update(next(ys_a), yd_a)", ns))
        det = f"np.linalg.det dim={dim}"
        cases.append(Case(det, "mimo", "det(m)", ns))
        # What the compact form's determinant-sign rule adds to the partial form's cycle.
        cmps.append(Comparison(f"MimoCfdlController.update dim={dim}", f"MimoPfdlController(l_u=1).update dim={dim}"))
        cmps.append(Comparison(f"MimoCfdlController.update dim={dim}", det, "ratio", 2.0 if dim == 256 else None))
        cmps.append(Comparison(arrays, f"MimoPfdlController.update dim={dim}"))


def _fleet(cases: list[Case], cmps: list[Comparison], size: int) -> None:
    fleet = [vorn.PFDLController() for _ in range(size)]

    def tick(fleet=fleet, y=0.3, yd=1.0):
        for c in fleet:
            c.update(y, yd)

    def floor_tick(fleet=fleet, y=0.3, yd=1.0, atan2=math.atan2):
        for _ in fleet:
            atan2(y, yd)

    ns = {"tick": tick, "floor_tick": floor_tick}
    name = f"fleet of {size} PFDLController, per controller"
    floor = f"fleet floor: atan2 {size} times, per call"
    cases.append(Case(name, "fleet", "tick()", ns, per=size))
    cases.append(Case(floor, "fleet", "floor_tick()", ns, per=size))
    cmps.append(Comparison(name, floor))
    cmps.append(Comparison(name, "PFDLController.update(y, yd)"))


def build(config: Config) -> tuple[list[Case], list[Comparison]]:
    """The cases and comparisons of `config`; the floor is always measured."""
    cases = [Case(FLOOR, "floor", "math.atan2(y, yd)", {"math": math, "y": 0.3, "yd": 1.0}),
             Case("loop overhead: pass", "floor", "pass", {})]
    cmps: list[Comparison] = []
    if "siso" in config.groups or "peers" in config.groups:
        _siso(cases, cmps)
    if "peers" in config.groups:
        _peers(cases, cmps)
    if "mimo" in config.groups and have_numpy():
        _mimo(cases, cmps, config.dims)
    if "fleet" in config.groups:
        _fleet(cases, cmps, config.fleet)
    if "arrays" in config.groups and have_numpy():
        from bench import fleet_cases

        fleet_cases.add(cases, cmps, config.fleet_sizes)
        from bench import mimo_fleet_cases

        mimo_fleet_cases.add(cases, cmps)
    if "loop" in config.groups:
        loops.add(cases, cmps, config.fleet)
    return cases, cmps
