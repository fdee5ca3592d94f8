"""demo.py: the demo's closed loops: every controller form and a PID baseline on the built-in
plants, with the tunings they use, run through `vorn.simulate`."""

from __future__ import annotations

from typing import Any

from vorn.forms import FORMS, MIMO, SISO
from vorn.loop import simulate as simulation
from vorn.loop.metrics import DIVERGED
from vorn.loop.pid import PID
from vorn.loop.run import Measures, Run, format_table
from vorn.loop.run import table_row as _row
from vorn.plants import PLANTS

__all__ = ["DEFAULT_STEPS", "FORMS", "TUNINGS", "PID_TUNINGS", "Run", "Measures", "close_loop",
           "demo_runs", "make_controller", "measure", "table_row", "format_table", "DIVERGED"]

DEFAULT_STEPS = 600
# A level of the square waves lasts this many samples.
HALF_PERIOD = simulation.HOLD

SISO_CLASSES: dict[str, Any] = {name: f.single for name, f in SISO.items()}
MIMO_CLASSES: dict[str, Any] = {name: f.single for name, f in MIMO.items()}

# The demo's tuning of each form on each plant: keyword arguments of the constructor. Four
# SISO ones come from `vorn tune` (10 s, bench/tune_quality.py, rounded to three digits):
# those with a lower IAE, an overshoot of at most 25 % (or the hand-picked one's) and a final
# error below 0.01. PFDL on the dead-time plant stays hand-picked: the tuner's own check is
# held against it.
TUNINGS: dict[tuple[str, str], dict[str, Any]] = {
    ("cfdl", "nonlinear"): dict(eta=0.2, rho=0.7, lambda_=0.01, initial_phi=2.0, u_min=-1.5, u_max=1.5),
    ("pfdl", "nonlinear"): dict(eta=2.0, mu=0.219, rho=0.738, lambda_=0.00196, initial_phi=0.504, l_u=2,
                                u_min=-1.5, u_max=1.5),
    ("ffdl", "nonlinear"): dict(eta=0.0426, mu=1.04, rho=0.254, lambda_=0.00344, initial_phi=0.155, l_y=2, l_u=2,
                                u_min=-1.5, u_max=1.5),
    ("cfdl", "time-varying"): dict(mu=0.1, rho=0.1, lambda_=0.1),
    ("pfdl", "time-varying"): dict(mu=0.1, rho=0.3, lambda_=0.1, initial_phi=1.0, l_u=5),
    ("ffdl", "time-varying"): dict(eta=0.2, rho=0.3, lambda_=0.01, l_y=2, l_u=2),
    ("cfdl", "dead-time"): dict(mu=0.1, rho=0.3, lambda_=10.0, initial_phi=2.0),
    ("pfdl", "dead-time"): dict(mu=0.1, rho=0.2, lambda_=0.1, initial_phi=0.3, l_u=5),
    ("ffdl", "dead-time"): dict(eta=0.01, mu=10.0, rho=1.0, lambda_=0.157, initial_phi=1.45, l_y=2, l_u=4),
    ("cfdl", "tank"): dict(eta=0.2, mu=0.1, rho=0.2, lambda_=5.0, initial_phi=1.0, u_min=0.0),
    ("pfdl", "tank"): dict(eta=0.2, mu=1.0, rho=0.2, lambda_=5.0, initial_phi=2.0, l_u=3, u_min=0.0),
    ("ffdl", "tank"): dict(eta=1.75, mu=0.001, rho=0.98, lambda_=0.00582, initial_phi=0.387, l_y=2, l_u=2,
                           u_min=0.0),
    ("cfdl", "rational"): dict(eta=0.2, mu=1.0, rho=1.0, lambda_=0.01, initial_phi=1.0),
    ("pfdl", "rational"): dict(eta=0.2, mu=0.1, rho=0.5, lambda_=0.1, initial_phi=0.3, l_u=2),
    ("ffdl", "rational"): dict(eta=0.2, mu=0.1, rho=0.5, lambda_=0.1, initial_phi=0.3, l_y=1, l_u=1),
    ("cfdl", "coupled"): dict(mu=0.01, rho=1.0, lambda_=3.0, initial_phi=0.7),
    ("pfdl", "coupled"): dict(mu=0.1, rho=1.0, lambda_=0.1, initial_phi=2.0, l_u=3),
    ("ffdl", "coupled"): dict(mu=0.1, rho=1.0, lambda_=0.3, initial_phi=1.0, l_y=2, l_u=2),
}

# The PID baseline on each SISO plant: the gains (per sample) of a grid search over kp, ki and
# kd that gave the smallest IAE on the plant's square wave with less than 30 % overshoot.
PID_TUNINGS: dict[str, dict[str, Any]] = {
    "nonlinear": dict(kp=0.8, ki=0.6, kd=0.0, u_min=-1.5, u_max=1.5),
    "time-varying": dict(kp=0.5, ki=0.4, kd=0.1),
    "dead-time": dict(kp=0.5, ki=0.1, kd=0.3),
    "tank": dict(kp=1.2, ki=0.4, kd=0.0, u_min=0.0),
    "rational": dict(kp=0.2, ki=0.6, kd=0.0),
}


def make_controller(form: str, plant: str) -> Any:
    """The demo's controller of `form` ("cfdl", "pfdl", "ffdl" or "pid") for `plant`."""
    if form == "pid":
        return PID(**PID_TUNINGS[plant])
    kwargs = TUNINGS[(form, plant)]
    if PLANTS[plant].dim == 1:
        return SISO_CLASSES[form](**kwargs)
    return MIMO_CLASSES[form](PLANTS[plant].dim, **kwargs)


def close_loop(controller: Any, plant_name: str, steps: int, *, noise: float = 0.0,
               disturbance: tuple[float, int] | None = None, seed: Any = None) -> Run:
    """Runs `controller` against a fresh `plant_name` for `steps` samples of its square wave:
    a one-member Run over the samples it saw."""
    run = simulation.simulate(controller, plant_name, steps, noise=noise, disturbance=disturbance,
                              seed=seed, limit=DIVERGED)
    return run.member(0)


def measure(run: Run) -> Measures:
    """The table's measures of a one-member run (see vorn.loop.metrics)."""
    return run.measures(0)


def demo_runs(steps: int = DEFAULT_STEPS) -> list[Run]:
    """Every form on every plant, SISO forms and the PID on the SISO plants and MIMO forms on
    the 2×2."""
    forms = {name: FORMS + (("pid",) if cls.dim == 1 else ()) for name, cls in PLANTS.items()}
    return [close_loop(make_controller(form, plant), plant, steps)
            for plant in PLANTS for form in forms[plant]]


def table_row(run: Run, m: Measures) -> tuple[str, ...]:
    return _row(run.controller, run.plant, m)
