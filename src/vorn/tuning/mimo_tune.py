"""mimo_tune.py: what `vorn.tune` searches on a MIMO plant (one with `dim` >= 2, or a set point
of shape (steps, dim)): the MIMO class of the form, through the MIMO fleets, beside a
decentralised PID (`vorn.PID(..., n=dim)`, gains per channel) tuned on the same runs.

Each channel's input sign comes from `signs` (one +1 or -1 per channel), else from a bump test
of every channel (vorn.tuning.identify_mimo), else is +1; the controllers are tuned on the
plant with those signs applied to its inputs (vorn.tuning.mimo_signs), and the tuned PID's
gains carry them. The MIMO classes have no input limits, and they cannot be started at an
operating point: at a plant resting away from zero, operating_point="plant" is refused.
"""

from __future__ import annotations

import functools
from typing import Any, Mapping

import numpy as np

import vorn.plants as builtin
from vorn.forms import MIMO, PARAMETERS
from vorn.loop.pid import PID
from vorn.loop.simulate import schedule
from vorn.tuning.identify_mimo import channel_bump_tests
from vorn.tuning.mimo_file import class_defaults
from vorn.tuning.mimo_signs import check_signs
from vorn.tuning.mimo_space import build_mimo_space, channel_pid_space
from vorn.tuning.setup import Setup
from vorn.values import real_array


def dimension(plant: Any, setpoint: Any) -> int:
    """The channels of the tuning's plant: its `dim` (a built-in plant's by name), else the set
    point's columns; 1 for a SISO plant."""
    if isinstance(plant, str):
        cls = builtin.PLANTS.get(plant)
        return 1 if cls is None else cls.dim
    declared = getattr(plant, "dim", None)
    if isinstance(declared, (int, np.integer)) and not isinstance(declared, bool) and declared >= 1:
        return int(declared)
    if not isinstance(setpoint, (int, np.integer)):
        shape = np.shape(setpoint)
        if len(shape) == 2 and shape[1] >= 2:
            return int(shape[1])
    return 1


def _setpoint(setpoint: Any, plant: Any, dim: int) -> np.ndarray:
    if isinstance(setpoint, (int, np.integer)) and not isinstance(setpoint, bool):
        if setpoint < 2:
            raise ValueError(f"the number of steps must be a whole number of at least 2, not {setpoint!r}")
        return schedule(plant if isinstance(plant, str) else type(plant), int(setpoint))
    yd = np.array(real_array(setpoint, "the set point"))
    if yd.ndim == 1:
        yd = np.repeat(yd[:, None], dim, axis=1)  # the same set point on every channel
    if yd.ndim != 2 or yd.shape[1] != dim or len(yd) < 2:
        raise ValueError(f"the set point of a plant with {dim} channels must have shape (steps, {dim}), "
                         f"at least 2 steps, not {yd.shape}")
    if not np.isfinite(yd).all():
        raise ValueError("the set point must be finite")
    return np.ascontiguousarray(yd)


def _fresh(plant: Any, steps: int) -> Any:
    return builtin.make(plant, steps, rng=np.random.default_rng(0)) if isinstance(plant, str) else plant


def _check_rest(plant: Any, operating_point: str | None) -> None:
    if operating_point != "plant":
        return
    rest = np.asarray(plant.reset(1), dtype=float)
    if np.any(rest != 0.0):
        raise ValueError("the plant rests away from zero, and the MIMO controllers cannot be started at an "
                         "operating point: give operating_point=None and tune in deviation variables "
                         "(y - y0, yd - y0)")


def _begin(start: Any) -> dict[str, Any]:
    if start is None:
        return {}
    if isinstance(start, Mapping):
        begin = dict(start)
    else:
        begin = {"initial_phi": float(real_array(start, "start"))}
    phi = begin.get("initial_phi")
    if phi is not None and not float(phi) > 0.0:
        raise ValueError("a MIMO tuning's initial_phi is positive: give a channel's negative gain as signs=")
    return begin


def setup(form: str, plant: Any, setpoint: Any, dim: int, *, bounds: Mapping[str, Any] | None,
          l_u: int | None, l_y: int | None, u_min: float | None, u_max: float | None, start: Any,
          identify: bool, signs: Any, operating_point: str | None,
          pid_bounds: Mapping[str, tuple[float, float]]) -> Setup:
    """The MIMO tuning's plant, set point, signs and spaces; see the module's docstring."""
    if u_min is not None or u_max is not None:
        raise ValueError("the MIMO controllers have no input limits: u_min and u_max are for SISO tunings")
    yd = _setpoint(setpoint, plant, dim)
    _check_rest(_fresh(plant, len(yd)), operating_point)
    begin = _begin(start)
    u0 = float((bounds or {}).get("u0", 0.0)) if isinstance((bounds or {}).get("u0", 0.0), (int, float)) else 0.0
    identified = None
    if identify:
        try:
            identified = channel_bump_tests(lambda: _fresh(plant, len(yd)), dim, u0)
        except KeyboardInterrupt:
            raise
        except Exception:  # a plant that fails here fails the search's loops too, which say how
            identified = None
    if signs is not None:
        chosen = check_signs(signs, dim)
    else:
        chosen = identified.signs if identified is not None else (1.0,) * dim
    space = build_mimo_space(form, bounds, l_u=l_u, l_y=l_y,
                             dead_time=identified.dead_time if identified is not None else 0)
    defaults = class_defaults(form)
    point = {k: v for k, v in defaults.items() if k in PARAMETERS or k in space.fixed}
    return Setup(plant, yd, begin, identified, space, channel_pid_space(dim, pid_bounds),
                 functools.partial(MIMO[form].single, dim), functools.partial(PID, n=dim), point,
                 {}, dim, chosen)
