"""loops.py — closed-loop cases: `vorn.simulate` against the loops a user writes by hand.

The scalar path (one controller, one built-in plant) is compared with the demo's loop as it
was written before `simulate` existed: a Python loop of object calls around a Python plant.
The batch path (a fleet and a NumPy plant) is reported per member and sample, next to the
same loop over single controllers and Python plants. The tuner's loop (a generation of
candidates, one fleet per pair of pseudo-orders) is reported per sample, next to the same
loop whose one bank only holds its input.
"""

from __future__ import annotations

import math

import numpy as np

import vorn
from bench.timing import Case, Comparison

STEPS = 600
BATCH_STEPS = 50
TUNING = dict(mu=0.1, rho=0.5, lambda_=0.1, initial_phi=0.3, l_u=4, u_min=-1.5, u_max=1.5)
PID_GAINS = dict(kp=0.8, ki=0.6, kd=0.0, u_min=-1.5, u_max=1.5)


class PythonPlant:
    """The nonlinear plant as a plain Python object: y(k+1) = y(k) / (1 + y(k)²) + u(k)³."""

    def __init__(self) -> None:
        self.y = 0.0

    def step(self, u: float) -> float:
        y = self.y
        self.y = y / (1.0 + y * y) + u * u * u
        return self.y


def hand_loop(controller, steps: int = STEPS) -> list[list[float]]:
    """The demo's loop before `simulate`: a set-point function, lists, a finiteness check."""
    plant = PythonPlant()
    set_point = lambda k: (0.5 if (k // 120) % 2 == 0 else -0.5,)  # noqa: E731
    yd_log: list[float] = []
    y_log: list[float] = []
    u_log: list[float] = []
    y = [0.0]
    for k in range(steps):
        yd = set_point(k)
        result = controller.update(y[0], yd[0])
        u = [result[0]] if isinstance(result, tuple) else [result]
        yd_log.append(yd[0])
        y_log.append(y[0])
        u_log.append(u[0])
        y = [plant.step(u[0])]
        if not all(math.isfinite(v) and abs(v) <= 1e6 for v in y):
            break
    return [yd_log, y_log, u_log]


def hand_batch(controllers, plants, steps: int = BATCH_STEPS) -> None:
    """n single controllers and n Python plants, stepped one by one."""
    for k in range(steps):
        yd = 0.5 if (k // 120) % 2 == 0 else -0.5
        for c, p in zip(controllers, plants):
            p.step(c.update(p.y, yd))


class Hold:
    """A batch that holds its input: what the loop and the plant cost without a controller."""

    def __init__(self, n: int, u: float = 0.1) -> None:
        self.n, self.u = n, u

    def __len__(self) -> int:
        return self.n

    def update(self, y, yd, out=None):
        out[...] = self.u
        return out


def add(cases: list[Case], cmps: list[Comparison], size: int) -> None:
    ns = {"vorn": vorn, "kw": TUNING, "hand_loop": hand_loop, "steps": STEPS, "batch_steps": BATCH_STEPS,
          "hand_batch": hand_batch, "PythonPlant": PythonPlant, "size": size, "pid_gains": PID_GAINS}
    hand = "closed loop: the demo's hand-written loop, per sample"
    scalar = "closed loop: simulate(PFDLController, 'nonlinear'), per sample"
    cases.append(Case(hand, "loop", "hand_loop(vorn.PFDLController(**kw))", ns, per=STEPS))
    cases.append(Case(scalar, "loop", "vorn.simulate(vorn.PFDLController(**kw), 'nonlinear', steps)", ns, per=STEPS))
    cmps.append(Comparison(scalar, hand, "ratio", 1.0))

    by_hand = f"closed loop: {size} PFDLController and Python plants by hand, per member-sample"
    ns["singles"] = [vorn.PFDLController(**TUNING) for _ in range(size)]
    cases.append(Case(by_hand, "loop", "hand_batch(singles, [PythonPlant() for _ in range(size)])", ns,
                      per=size * BATCH_STEPS))
    pid = f"closed loop: simulate(PID(n={size}), 'nonlinear'), per member-sample"
    cases.append(Case(pid, "loop", "vorn.simulate(vorn.PID(**pid_gains, n=size), 'nonlinear', batch_steps)", ns,
                      per=size * BATCH_STEPS))
    cmps.append(Comparison(pid, by_hand, "speedup"))
    hold = f"closed loop: simulate(a batch of {size} holding u, 'nonlinear'), per member-sample"
    ns["hold"] = Hold(size)
    cases.append(Case(hold, "loop", "vorn.simulate(hold, 'nonlinear', batch_steps)", ns, per=size * BATCH_STEPS))
    if hasattr(vorn, "PFDLFleet"):
        fleet = f"closed loop: simulate(PFDLFleet({size}), 'nonlinear'), per member-sample"
        ns["fleet"] = vorn.PFDLFleet(size, **TUNING)
        cases.append(Case(fleet, "loop", "fleet.reset(); vorn.simulate(fleet, 'nonlinear', batch_steps)", ns,
                          per=size * BATCH_STEPS))
        cmps.append(Comparison(fleet, by_hand, "speedup", 5.0))
        alone = f"PFDLFleet({size}).update alone, per member"
        ns["y_row"], ns["u_row"] = np.full(size, 0.3), np.empty(size)
        cases.append(Case(alone, "loop", "fleet.update(y_row, 0.5, out=u_row)", ns, per=size))

    if hasattr(vorn, "FFDLFleet"):
        _add_generation(cases, cmps, ns)


def _add_generation(cases: list[Case], cmps: list[Comparison], ns: dict) -> None:
    """A tuner's generation of 16 full-form candidates over 8 pairs of pseudo-orders, on the
    built-in plant with dead time, with the set point broadcast along the members as the
    tuner gives it."""
    from vorn.loop.engine import closed_loop

    ns["closed_loop"], ns["np"] = closed_loop, np
    ns["plant"] = vorn.plants.make("dead-time", STEPS, rng=np.random.default_rng(0))
    ns["common"] = np.broadcast_to(vorn.loop.simulate.schedule("dead-time", STEPS)[:, None], (STEPS, 16))
    ns["generation"] = lambda: [vorn.FFDLFleet(2, l_y=i % 4, l_u=1 + i // 4, u_min=-3.0, u_max=3.0)
                                for i in range(8)]
    tuner = "closed loop: the tuner's generation, 16 FFDL candidates in 8 fleets, per sample"
    floor = "closed loop: the tuner's loop, 16 members held by one bank, per sample"
    cases.append(Case(tuner, "loop", "closed_loop(generation(), plant, common)", ns, per=STEPS))
    cases.append(Case(floor, "loop", "closed_loop([Hold(16)], plant, common)", ns | {"Hold": Hold}, per=STEPS))
    cmps.append(Comparison(tuner, floor, "ratio"))
