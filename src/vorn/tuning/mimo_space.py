"""mimo_space.py: the search spaces of a MIMO tuning: the MIMO class's parameters (the SISO
space's bounds and orders, without input limits or a step-factor vector, and with the layer
norm bounds m_upper and m_lower fixed), and a decentralised PID's gains, one set per channel.

initial_phi is searched positive: each channel's sign is applied outside the controller
(vorn.tuning.mimo_signs).
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Mapping, Sequence

import numpy as np

from vorn.tuning.space import RHO_VECTOR, Dimension, SearchSpace, build_space

# The MIMO classes' bounds on a layer's Frobenius norm: fixed numbers, never searched.
NORM_BOUNDS = ("m_upper", "m_lower")
PID_GAINS = ("kp", "ki", "kd")


def build_mimo_space(form: str, bounds: Mapping[str, Any] | None = None, *, l_u: int | None = None,
                     l_y: int | None = None, dead_time: int = 0) -> SearchSpace:
    """The search space of the MIMO class of `form`; `bounds` as for build_space, and
    m_upper / m_lower as fixed numbers."""
    given = dict(bounds or {})
    if RHO_VECTOR in given:
        raise ValueError("the MIMO controllers have no step-factor vector: bounds cannot take rho_vector")
    fixed = {}
    for name in NORM_BOUNDS:
        if name in given:
            value = given.pop(name)
            if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)) \
                    or not (math.isfinite(value) and value > 0.0):
                raise ValueError(f"{name} is fixed, not searched: give a positive number, not {value!r}")
            fixed[name] = float(value)
    if form == "ffdl":
        given[RHO_VECTOR] = None
    space = build_space(form, given, l_u=l_u, l_y=l_y, dead_time=dead_time)
    return SearchSpace(form, space.dimensions, {**space.fixed, **fixed}, space.vector)


def _gain_name(gain: str, channel: int) -> str:
    return f"{gain}[{channel}]"


@dataclass(frozen=True)
class ChannelPIDSpace(SearchSpace):
    """A decentralised PID's gains, searched per channel; its points decode to PID keywords
    whose gains hold one value per channel (lists)."""

    channels: int = 1

    def decode(self, x: Sequence[float] | np.ndarray) -> dict[str, Any]:
        flat = super().decode(x)
        params = {k: v for k, v in flat.items() if "[" not in k}
        for gain in PID_GAINS:
            params[gain] = [flat[_gain_name(gain, c)] for c in range(self.channels)]
        return params

    def encode(self, params: Mapping[str, Any]) -> np.ndarray:
        flat = {k: v for k, v in params.items() if k not in PID_GAINS}
        for gain in PID_GAINS:
            if gain in params:
                values = np.broadcast_to(np.asarray(params[gain], dtype=float), (self.channels,))
                flat.update({_gain_name(gain, c): float(v) for c, v in enumerate(values)})
        return super().encode(flat)


def channel_pid_space(dim: int, gain_bounds: Mapping[str, tuple[float, float]]) -> ChannelPIDSpace:
    """Every channel's kp, ki and kd inside `gain_bounds` (positive; log scale)."""
    dims = tuple(Dimension(_gain_name(gain, c), low, high, log=True)
                 for c in range(dim) for gain, (low, high) in gain_bounds.items())
    return ChannelPIDSpace("pid", dims, {}, None, dim)


def signed_gains(params: Mapping[str, Any], signs: Sequence[float]) -> dict[str, Any]:
    """A decentralised PID's keywords with each channel's gains multiplied by its sign: the
    PID that runs on the plant itself (its gains as lists of floats)."""
    return {k: ([float(g) * s for g, s in zip(v, signs)] if k in PID_GAINS else v) for k, v in params.items()}
