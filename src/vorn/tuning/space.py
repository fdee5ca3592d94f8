"""space.py: the parameters the tuner searches, their default bounds, and the map between
the optimiser's unit cube and constructor keyword arguments.

Each searched parameter is one coordinate in [0, 1]. A parameter whose range spans decades
is searched on a log scale; the pseudo-orders are integers, each given an equal share of
the coordinate. Decoded values are clipped into their bounds, so every candidate passes the
constructors' validation.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Mapping, Sequence

import numpy as np

from vorn.forms import FORMS, SISO

# Default bounds of the real parameters: (low, high). The estimator's and the control law's
# step factors stay inside the ranges the constructors accept (0 < eta <= 2, 0 < rho <= 1).
# initial_phi is given by magnitude here; its sign is the plant's (positive unless a start
# or bounds say otherwise).
DEFAULT_BOUNDS: dict[str, tuple[float, float]] = {
    "eta": (0.01, 2.0),
    "mu": (0.001, 10.0),
    "rho": (0.01, 1.0),
    "lambda_": (0.001, 100.0),
    "initial_phi": (0.01, 10.0),
}
# The pseudo-orders searched when the caller does not fix them: (low, high), inclusive.
DEFAULT_ORDERS: dict[str, dict[str, tuple[int, int]]] = {
    "cfdl": {},
    "pfdl": {"l_u": (1, 5)},
    "ffdl": {"l_y": (0, 3), "l_u": (1, 4)},
}
# The orders each form takes when neither searched nor given: those it fixes.
FIXED_ORDERS: dict[str, dict[str, int]] = {name: dict(f.fixed_orders) for name, f in SISO.items()}
# A range whose high end is at least this many times its low end is searched on a log scale.
LOG_RATIO = 10.0


@dataclass(frozen=True)
class Dimension:
    """One searched parameter: its keyword, bounds, and whether the search runs on a log
    scale (of the magnitude, for a range of negative numbers) or over integers."""

    name: str
    low: float
    high: float
    log: bool = False
    integer: bool = False

    def decode(self, x: float) -> float | int:
        """The value at unit coordinate `x` (clipped into [0, 1])."""
        x = min(max(float(x), 0.0), 1.0)
        if self.integer:
            count = int(self.high) - int(self.low) + 1
            return int(self.low) + min(int(x * count), count - 1)
        if self.log:
            sign = -1.0 if self.high < 0.0 else 1.0
            a, b = abs(self.low), abs(self.high)
            value = sign * a * (b / a) ** x
        else:
            value = self.low + (self.high - self.low) * x
        return float(min(max(value, self.low), self.high))

    def encode(self, value: float) -> float:
        """The unit coordinate of `value` (clipped into the bounds); inverse of decode."""
        value = min(max(float(value), self.low), self.high)
        if self.integer:
            count = int(self.high) - int(self.low) + 1
            return (value - int(self.low) + 0.5) / count
        if self.high == self.low:
            return 0.5
        if self.log:
            a, b = abs(self.low), abs(self.high)
            return math.log(abs(value) / a) / math.log(b / a)
        return (value - self.low) / (self.high - self.low)


def _real_dimension(name: str, low: float, high: float) -> Dimension:
    if not (math.isfinite(low) and math.isfinite(high)):
        raise ValueError(f"bounds of {name} must be finite numbers, not ({low!r}, {high!r})")
    if low > high:
        raise ValueError(f"bounds of {name} are inverted: ({low!r}, {high!r})")
    log = (low > 0.0 or high < 0.0) and max(abs(low), abs(high)) >= LOG_RATIO * min(abs(low), abs(high))
    return Dimension(name, float(low), float(high), log=log)


def _check_bounds(name: str, low: float, high: float) -> None:
    # The empty or invalid ranges that no constructor would accept.
    if name in ("mu", "lambda_") and high <= 0.0:
        raise ValueError(f"bounds of {name} must include positive values, not ({low!r}, {high!r})")
    if name == "eta" and (high <= 0.0 or low > 2.0):
        raise ValueError(f"bounds of eta must meet (0, 2], not ({low!r}, {high!r})")
    if name == "rho" and (high <= 0.0 or low > 1.0):
        raise ValueError(f"bounds of rho must meet (0, 1], not ({low!r}, {high!r})")


# The smallest value kept for a parameter that must stay positive, when its bounds reach 0.
_TINY = 1e-12
_LIMITS = {"eta": (_TINY, 2.0), "rho": (_TINY, 1.0), "mu": (_TINY, math.inf), "lambda_": (_TINY, math.inf)}


@dataclass(frozen=True)
class SearchSpace:
    """The searched dimensions of one form, and the keyword arguments every candidate shares."""

    form: str
    dimensions: tuple[Dimension, ...]
    fixed: Mapping[str, Any]

    @property
    def size(self) -> int:
        return len(self.dimensions)

    def decode(self, x: Sequence[float] | np.ndarray) -> dict[str, Any]:
        """The constructor's keyword arguments at point `x` of the unit cube."""
        params = dict(self.fixed)
        for dim, xi in zip(self.dimensions, x):
            params[dim.name] = dim.decode(xi)
        return params

    def encode(self, params: Mapping[str, Any]) -> np.ndarray:
        """The unit-cube point of `params` (a parameter that is missing sits mid-range)."""
        return np.array([dim.encode(params[dim.name]) if dim.name in params else 0.5
                         for dim in self.dimensions])


def build_space(form: str, bounds: Mapping[str, Any] | None = None, *, l_u: int | None = None,
                l_y: int | None = None, u_min: float | None = None, u_max: float | None = None,
                initial_phi_sign: float = 1.0) -> SearchSpace:
    """The search space of `form`. `bounds` overrides default bounds by keyword ((low, high)
    for a real parameter or an order; a single number fixes that parameter). Orders given
    as `l_u`/`l_y` are fixed. A negative `initial_phi_sign` flips the default range of
    initial_phi to negative values (a plant whose output falls as its input rises)."""
    if form not in FORMS:
        raise ValueError(f"unknown form {form!r}: expected one of {', '.join(FORMS)}")
    bounds = dict(bounds or {})
    known = set(DEFAULT_BOUNDS) | set(DEFAULT_ORDERS[form]) | {"eps", "u0"}
    unknown = sorted(set(bounds) - known)
    if unknown:
        raise ValueError(f"cannot search {', '.join(unknown)} for {form}: bounds take "
                         f"{', '.join(sorted(known))}")
    fixed: dict[str, Any] = dict(FIXED_ORDERS[form])
    for name, value in (("l_u", l_u), ("l_y", l_y)):
        if value is not None:
            _check_order(form, name, value)
            fixed[name] = int(value)
            bounds.pop(name, None)
    for name, limit in (("u_min", u_min), ("u_max", u_max)):
        if limit is not None:
            fixed[name] = _limit(name, limit)
    if u_min is not None and u_max is not None and u_min > u_max:
        raise ValueError(f"u_min ({u_min!r}) is above u_max ({u_max!r})")
    dims: list[Dimension] = []
    defaults: dict[str, Any] = dict(DEFAULT_BOUNDS)
    if initial_phi_sign < 0.0:
        low, high = DEFAULT_BOUNDS["initial_phi"]
        defaults["initial_phi"] = (-high, -low)
    for name, value in {**defaults, **bounds}.items():
        if name in DEFAULT_ORDERS[form] or name in fixed:
            continue
        pair = _pair(name, value)
        if pair is None:
            if not math.isfinite(value):
                raise ValueError(f"a fixed {name} must be a finite number, not {value!r}")
            fixed[name] = float(value)
            continue
        low, high = pair
        _check_bounds(name, low, high)
        lo_limit, hi_limit = _LIMITS.get(name, (-math.inf, math.inf))
        low, high = max(low, lo_limit), min(high, hi_limit)
        if low == high:
            fixed[name] = low
        else:
            dims.append(_real_dimension(name, low, high))
    for name, (low, high) in DEFAULT_ORDERS[form].items():
        if name in fixed:
            continue
        pair = _pair(name, bounds.get(name, (low, high)))
        if pair is None:
            _check_order(form, name, bounds[name])
            fixed[name] = int(bounds[name])
            continue
        low, high = pair
        if low != int(low) or high != int(high) or low > high or low < (1 if name == "l_u" else 0):
            raise ValueError(f"bounds of {name} must be whole numbers from {1 if name == 'l_u' else 0} "
                             f"upwards, low before high, not ({low!r}, {high!r})")
        if low == high:
            fixed[name] = int(low)
        else:
            dims.append(Dimension(name, float(low), float(high), integer=True))
    return SearchSpace(form, tuple(dims), fixed)


def _limit(name: str, value: Any) -> float:
    """An input limit: a number (infinite for none), never NaN, which no comparison can order."""
    try:
        limit = float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be a number or None, not {value!r}") from None
    if math.isnan(limit):
        raise ValueError(f"{name} must be a number or None, not NaN")
    return limit


def _pair(name: str, value: Any) -> tuple[float, float] | None:
    """(low, high) from a bounds entry, or None for a single number that fixes the parameter."""
    if isinstance(value, (int, float, np.integer, np.floating)) and not isinstance(value, bool):
        return None
    try:
        low, high = value
        return float(low), float(high)
    except (TypeError, ValueError):
        raise ValueError(f"bounds of {name} must be a (low, high) pair or a number, not {value!r}") from None


def _check_order(form: str, name: str, value: Any) -> None:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < 0:
        raise ValueError(f"{name} must be a whole number >= 0, not {value!r}")
    if form == "cfdl" and value != FIXED_ORDERS["cfdl"][name]:
        raise ValueError(f"cfdl takes l_y = 0 and l_u = 1, not {name} = {value}")
    if form == "pfdl" and name == "l_y" and value != 0:
        raise ValueError(f"pfdl takes l_y = 0, not {value}")
    if name == "l_u" and value < 1:
        raise ValueError("l_u must be at least 1")
