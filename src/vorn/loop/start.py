"""start.py: `vorn.start`, putting a controller or a fleet at an operating point.

    start(controller, y0, u0=None) -> controller

A controller is built believing that the output was 0 before its first sample. At a plant
resting elsewhere (pH 7, 20 °C) its first move then goes the wrong way. `start` makes the
plant's output `y0` (and, when given, its input `u0`) the controller's past: every entry of
its output histories becomes y0, every entry of its input histories u0, so the first sample
is bumpless. The estimate and the parameters are kept.

- The SISO classes are started through their state (`__getstate__`/`__setstate__`); restoring
  a state also makes the present estimate the one `reset` returns to.
- Fleets are started per member through their state: y0 and u0 are numbers or one per member.
- `vorn.PID` takes y0 as its previous measurement and u0 as its integral.
- The MIMO classes and their fleets are refused: the classes' surface offers no way to set
  the previous outputs, and a fleet's member is that class bit for bit; run them in deviation
  variables (y − y0, yd − y0) instead. A loop's default start (`start_at_plant`) refuses them
  the same way at a plant resting away from zero, and leaves them alone at one resting at zero.

Bad values are refused before anything changes: the controller is left as it was.
"""

from __future__ import annotations

from typing import Any, cast

import numpy as np

from vorn.forms import MIMO, SISO
from vorn.loop.pid import PID
from vorn.values import real_array

# The state entries that hold past outputs and past inputs, in the SISO classes and fleets.
OUTPUT_HISTORIES = ("y_prev", "y_hist")
INPUT_HISTORIES = ("u_prev", "u_prev2", "u_hist")

SINGLES = tuple(f.single for f in SISO.values())
FLEETS = tuple(f.fleet for f in SISO.values() if f.fleet is not None)
MIMO_CLASSES = tuple(f.single for f in MIMO.values())
MIMO_FLEETS = tuple(f.fleet for f in MIMO.values() if f.fleet is not None)


def _level(value: Any, name: str, n: int | None) -> np.ndarray:
    """`value` as a finite float array of shape () or, for n members, () or (n,)."""
    out = real_array(value, name)
    shapes = ((),) if n is None else ((), (n,))
    if out.shape not in shapes:
        wanted = "a number" if n is None else f"a number or {n} values, one per member"
        raise ValueError(f"{name} must be {wanted}, not shape {out.shape}")
    if not np.isfinite(out).all():
        raise ValueError(f"{name} must be finite")
    return out


def _past(state: dict[str, Any], keys: tuple[str, ...], level: np.ndarray, members: bool) -> None:
    """Every entry of the histories named in `keys` set to `level` (one per member when
    `members`: the histories' rows)."""
    for key in keys:
        if key not in state:
            continue
        old = np.asarray(state[key], dtype=float)
        if not members and old.ndim == 0:
            state[key] = float(level)
            continue
        column = level.reshape(-1, *([1] * (old.ndim - 1))) if members and level.ndim else level
        new = np.broadcast_to(column, old.shape).astype(float)
        state[key] = new if isinstance(state[key], np.ndarray) or members else new.tolist()


def start(controller: Any, y0: Any, u0: Any = None) -> Any:
    """Puts `controller` at the operating point (y0, u0); see the module's docstring."""
    if isinstance(controller, MIMO_CLASSES + MIMO_FLEETS):
        raise TypeError(f"{type(controller).__name__} cannot be started at an operating point: the MIMO "
                        f"controllers have no way to set the previous outputs; run it in deviation "
                        f"variables (y - y0, yd - y0) instead")
    if isinstance(controller, PID):
        members = None if controller.n == 1 else controller.n
        y = _level(y0, "y0", members)
        u = None if u0 is None else _level(u0, "u0", members)
        scalar = controller.n == 1
        controller.y_prev = float(y) if scalar else np.broadcast_to(y, (controller.n,)).astype(float)
        if u is not None:
            controller.integral = float(u) if scalar else np.broadcast_to(u, (controller.n,)).astype(float)
        return controller
    if isinstance(controller, SINGLES + FLEETS):
        members = len(cast(Any, controller)) if isinstance(controller, FLEETS) else None
        y = _level(y0, "y0", members)
        u = None if u0 is None else _level(u0, "u0", members)
        state: dict[str, Any] = dict(cast(Any, controller).__getstate__())
        _past(state, OUTPUT_HISTORIES, y, members is not None)
        if u is not None:
            _past(state, INPUT_HISTORIES, u, members is not None)
        cast(Any, controller).__setstate__(state)  # the fleets' stubs do not list it
        return controller
    members_of = getattr(controller, "controllers", None)  # a row of singles (the tuner's banks)
    if isinstance(members_of, list):
        y = _level(y0, "y0", len(members_of))
        u = None if u0 is None else _level(u0, "u0", len(members_of))
        ys = np.broadcast_to(y, (len(members_of),))
        us = None if u is None else np.broadcast_to(u, (len(members_of),))
        for i, member in enumerate(members_of):
            start(member, ys[i], None if us is None else us[i])
        return controller
    raise TypeError(f"{type(controller).__name__} cannot be started at an operating point: vorn.start "
                    f"knows the controller classes, their fleets and vorn.PID")


START_CHOICES = ("plant", None)


def check_start(value: Any) -> Any:
    """A loop's `start` option: "plant" or None."""
    if value not in START_CHOICES:
        raise ValueError(f"start must be 'plant' (the controllers start at the plant's initial "
                         f"output) or None (they start at zero), not {value!r}")
    return value


def start_at_plant(controller: Any, y: Any) -> None:
    """A loop's default start: `controller` put at the plant's initial output `y` (its reset
    value). Nothing changes when that output is zero everywhere, where every controller
    already starts, and a user's own controller keeps its own past: only what `start`
    knows is started (a MIMO class is refused there, with its reason)."""
    y = np.asarray(y, dtype=float)
    if not np.any(y != 0.0):
        return
    known = isinstance(controller, SINGLES + FLEETS + MIMO_CLASSES + MIMO_FLEETS + (PID,)) or \
        isinstance(getattr(controller, "controllers", None), list)
    if not known:
        return
    batch = isinstance(controller, FLEETS) or (isinstance(controller, PID) and controller.n > 1) \
        or hasattr(controller, "controllers")
    start(controller, y.reshape(-1) if batch else (y if isinstance(controller, MIMO_CLASSES) else y.reshape(-1)[0]))
