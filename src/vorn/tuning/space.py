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

# Default bounds of the real parameters: (low, high), wide enough that a search on the
# built-in plants and the usual process plants ends inside them (a value that ends on one is
# reported: see `edge_warnings`). The estimator's and the control law's step factors stay
# inside the ranges the constructors accept (0 < eta <= 2, 0 < rho <= 1). initial_phi is
# given by magnitude here; its sign is the plant's (positive unless identified, a start or
# bounds say otherwise).
DEFAULT_BOUNDS: dict[str, tuple[float, float]] = {
    "eta": (1e-4, 2.0),
    "mu": (1e-6, 1e4),
    "rho": (1e-3, 1.0),
    "lambda_": (1e-4, 1e4),
    "initial_phi": (1e-3, 100.0),
}
# The full form's step-factor vector (weights.RHO_VECTOR): its entries other than the newest
# input increment's (which takes rho's bounds) lie in this range; 1.0 leaves a product as it is.
RHO_VECTOR = "rho_vector"
VECTOR_BOUNDS = (1e-3, 1.0)
# The pseudo-orders searched when the caller does not fix them, for a plant without dead
# time: (low, high), inclusive. Behind a dead time of d samples the input order's range
# moves up by d, so that the newest input the estimate relates to the output has acted.
DEFAULT_ORDERS: dict[str, dict[str, tuple[int, int]]] = {
    "cfdl": {},
    "pfdl": {"l_u": (1, 5)},
    "ffdl": {"l_y": (0, 4), "l_u": (1, 4)},
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
        """The value at unit coordinate `x` (clipped into [0, 1]); the cube's faces are the
        bounds themselves."""
        x = min(max(float(x), 0.0), 1.0)
        if self.integer:
            count = int(self.high) - int(self.low) + 1
            return int(self.low) + min(int(x * count), count - 1)
        if x == 0.0 or x == 1.0:
            return self.low if x == 0.0 else self.high
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
    # The full form's step-factor vector, when searched: as many output and input entries as
    # the largest orders take (coordinates `vector_name("y", i)` and `vector_name("u", j)`).
    vector: tuple[int, int] | None = None

    @property
    def size(self) -> int:
        return len(self.dimensions)

    def decode(self, x: Sequence[float] | np.ndarray) -> dict[str, Any]:
        """The tuning's parameters at point `x` of the unit cube (see vorn.tuning.weights)."""
        params = dict(self.fixed)
        for dim, xi in zip(self.dimensions, x):
            params[dim.name] = dim.decode(xi)
        if self.vector is not None:
            ys, us = self.vector
            outputs = [params.pop(vector_name("y", i)) for i in range(ys)]
            inputs = [params.pop(vector_name("u", j)) for j in range(us)]
            vector = outputs[:params["l_y"]] + inputs[:params["l_u"]]
            params["rho"] = inputs[0]  # what the file's rho holds: the newest input's factor
            params[RHO_VECTOR] = vector
        return params

    def encode(self, params: Mapping[str, Any]) -> np.ndarray:
        """The unit-cube point of `params` (a parameter that is missing sits mid-range; a
        missing step-factor vector is the one of the scalar law with `rho`)."""
        params = self.coordinates(params)
        return np.array([dim.encode(params[dim.name]) if dim.name in params else 0.5
                         for dim in self.dimensions])

    def exact(self, params: Mapping[str, Any]) -> dict[str, Any]:
        """The candidate that `params` is, with the keys a decoded point has: each searched
        value of its own that lies inside the space as given (a step-factor vector when it
        fits the orders), the rest as decoding its unit-cube point gives them."""
        point = self.decode(self.encode(params))
        for dim in self.dimensions:
            value = params.get(dim.name)
            if value is not None and dim.low <= value <= dim.high:
                point[dim.name] = int(value) if dim.integer else value
        vector = params.get(RHO_VECTOR)
        if self.vector is not None:
            l_y = point["l_y"]
            point[RHO_VECTOR] = _fitting(vector, point[RHO_VECTOR], l_y, params.get("l_y"))
            point["rho"] = point[RHO_VECTOR][l_y]
        return point

    def coordinates(self, params: Mapping[str, Any]) -> dict[str, Any]:
        """`params` with the step-factor vector spread over its coordinates (a missing vector
        is the one of the scalar law with `rho`)."""
        params = dict(params)
        if self.vector is not None:
            l_y = int(params.get("l_y", self.fixed.get("l_y", 0)))
            vector = params.get(RHO_VECTOR)
            outputs = list(vector[:l_y]) if vector is not None else []
            inputs = list(vector[l_y:]) if vector is not None else [params.get("rho", 1.0)]
            ys, us = self.vector
            for i in range(ys):
                params[vector_name("y", i)] = outputs[i] if i < len(outputs) else 1.0
            for j in range(us):
                params[vector_name("u", j)] = inputs[j] if j < len(inputs) else 1.0
        return params

    def edge_warnings(self, params: Mapping[str, Any]) -> list[str]:
        """One line for every searched value of `params` that sits on a bound (within
        EDGE, relative), and for every searched order at the top of its range."""
        values = self.coordinates(params)
        used = _used_vector_names(params)
        lines = []
        for dim in self.dimensions:
            value = values.get(dim.name)
            if value is None or (dim.name.startswith("rho_") and dim.name not in used):
                continue
            name = _shown_name(dim.name, params)
            if dim.integer:
                if value == dim.high:
                    lines.append(f"{name} = {int(value)} is the largest searched: bounds={{'{dim.name}': "
                                 f"({int(dim.low)}, {int(dim.high) + 2})}} searches further")
                continue
            for side, bound in (("lower", dim.low), ("upper", dim.high)):
                if abs(value - bound) <= EDGE * abs(bound):
                    limit = _LIMITS.get("rho" if dim.name.startswith("rho") else dim.name, (None, None))
                    at_limit = bound == limit[1]
                    lines.append(f"{name} = {value:.6g} sits on its {side} bound {bound:g}"
                                 + (" (the largest the controller accepts)" if at_limit else
                                    f": widen bounds={{'{_bounds_key(dim.name)}': ...}}"))
        return lines


# A value within this fraction of a bound sits on it.
EDGE = 1e-3


def _fitting(vector: Any, decoded: list[float], l_y: int, given_l_y: Any) -> list[float]:
    """`vector` when it has the decoded vector's layout (same orders), else the decoded one."""
    if vector is None or given_l_y != l_y or len(vector) != len(decoded):
        return decoded
    return [float(v) for v in vector]


def _used_vector_names(params: Mapping[str, Any]) -> set[str]:
    l_y, l_u = int(params.get("l_y", 0)), int(params.get("l_u", 1))
    return {vector_name("y", i) for i in range(l_y)} | {vector_name("u", j) for j in range(l_u)}


def _shown_name(name: str, params: Mapping[str, Any]) -> str:
    """rho_y1 and rho_u0 as the vector entries they are: rho_vector[1], rho_vector[l_y]."""
    if not name.startswith("rho_"):
        return name
    index = int(name[5:]) + (int(params.get("l_y", 0)) if name[4] == "u" else 0)
    return f"rho_vector[{index}]"


def _bounds_key(name: str) -> str:
    if name == vector_name("u", 0):
        return "rho"
    return RHO_VECTOR if name.startswith("rho_") else name


def vector_name(kind: str, index: int) -> str:
    """The coordinate of the step factor of output ("y") or input ("u") entry `index`."""
    return f"rho_{kind}{index}"


def build_space(form: str, bounds: Mapping[str, Any] | None = None, *, l_u: int | None = None,
                l_y: int | None = None, u_min: float | None = None, u_max: float | None = None,
                initial_phi_sign: float = 1.0, dead_time: int = 0) -> SearchSpace:
    """The search space of `form`. `bounds` overrides default bounds by keyword ((low, high)
    for a real parameter or an order; a single number fixes that parameter; for the full
    form, "rho_vector": (low, high) bounds the step factors other than the newest input's,
    and None searches the scalar rho alone). Orders given as `l_u`/`l_y` are fixed. A
    negative `initial_phi_sign` flips the default range of initial_phi to negative values (a
    plant whose output falls as its input rises); `dead_time` (samples) moves the default
    range of l_u up by as much."""
    if form not in FORMS:
        raise ValueError(f"unknown form {form!r}: expected one of {', '.join(FORMS)}")
    bounds = dict(bounds or {})
    known = set(DEFAULT_BOUNDS) | set(DEFAULT_ORDERS[form]) | {"eps", "u0"} \
        | ({RHO_VECTOR} if form == "ffdl" else set())
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
    vector_bounds = bounds.pop(RHO_VECTOR, VECTOR_BOUNDS)
    orders = _default_orders(form, dead_time)
    dims: list[Dimension] = []
    defaults: dict[str, Any] = dict(DEFAULT_BOUNDS)
    if initial_phi_sign < 0.0:
        low, high = DEFAULT_BOUNDS["initial_phi"]
        defaults["initial_phi"] = (-high, -low)
    for name, value in {**defaults, **bounds}.items():
        if name in orders or name in fixed:
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
    for name, (low, high) in orders.items():
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
    return _with_vector(SearchSpace(form, tuple(dims), fixed), vector_bounds)


def _default_orders(form: str, dead_time: int) -> dict[str, tuple[int, int]]:
    return {name: (low + dead_time, high + dead_time) if name == "l_u" else (low, high)
            for name, (low, high) in DEFAULT_ORDERS[form].items()}


def _with_vector(space: SearchSpace, bounds: Any) -> SearchSpace:
    """The full form's space with its step-factor vector searched in place of the scalar rho
    (which bounds the newest input's entry), unless rho is fixed or `bounds` is None."""
    if space.form != "ffdl" or bounds is None:
        return space
    rho = next((d for d in space.dimensions if d.name == "rho"), None)
    if rho is None:
        return space
    pair = _pair(RHO_VECTOR, bounds)
    if pair is None or not (0.0 < pair[0] <= pair[1] <= 1.0):
        raise ValueError(f"bounds of rho_vector must be a (low, high) pair inside (0, 1], or None, "
                         f"not {bounds!r}")
    ys = _largest(space, "l_y")
    us = _largest(space, "l_u")
    dims = [d for d in space.dimensions if d.name != "rho"]
    dims += [_real_dimension(vector_name("y", i), *pair) for i in range(ys)]
    dims += [Dimension(vector_name("u", 0), rho.low, rho.high, rho.log)]
    dims += [_real_dimension(vector_name("u", j), *pair) for j in range(1, us)]
    return SearchSpace(space.form, tuple(dims), space.fixed, (ys, us))


def _largest(space: SearchSpace, name: str) -> int:
    for d in space.dimensions:
        if d.name == name:
            return int(d.high)
    return int(space.fixed[name])


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
