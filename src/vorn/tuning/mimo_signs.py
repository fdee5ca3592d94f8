"""mimo_signs.py: the input sign of each channel of a MIMO plant, kept outside the controller.

A MIMO controller starts from initial_phi·I, the same sign on every channel, and its compact
form resets a layer whose determinant's sign differs from that matrix's. A plant whose input c
lowers output c (a negative channel gain) is therefore controlled through its sign: the
controller's input c is multiplied by signs[c] on its way to the plant, so that the
controller sees a plant whose every channel rises with its input. Multiplying by ±1 is exact,
so the loop computes the same doubles whichever side the signs are applied on.

    SignedPlant(plant, signs)        the plant as the tuner's controllers see it
    signed(controller, signs)        a MIMO controller or fleet whose inputs leave signed
                                     (ChannelSigns, FleetChannelSigns): what runs on the plant
    check_signs(signs, dim)          a sign vector from the caller: dim entries of +1 or -1
    labelled(run, controller)        a run of a signed controller named after its class
"""

from __future__ import annotations

from dataclasses import replace
from typing import Any, Sequence

import numpy as np

from vorn.values import real_array


def check_signs(signs: Any, dim: int) -> tuple[float, ...]:
    """`signs` as dim floats, each +1.0 or -1.0; ValueError naming what is wrong."""
    values = np.atleast_1d(real_array(signs, "signs"))
    if values.shape != (dim,) or not np.isin(values, (1.0, -1.0)).all():
        raise ValueError(f"signs must hold one +1 or -1 per channel ({dim}), not {signs!r}")
    return tuple(float(v) for v in values)


class SignedPlant:
    """`plant` with every copy's input c multiplied by signs[c]."""

    def __init__(self, plant: Any, signs: Sequence[float]) -> None:
        self.plant = plant
        self.signs = np.asarray(signs, dtype=float)
        self.name = getattr(plant, "name", type(plant).__name__)
        self.dim = len(self.signs)

    def reset(self, n: int) -> Any:
        return self.plant.reset(n)

    def step(self, u: np.ndarray) -> Any:
        return self.plant.step(np.asarray(u, dtype=float) * self.signs)


def channels(controller: Any) -> int:
    """The channels of a MIMO controller (its `dim`) or fleet (its layers' size)."""
    dim = getattr(controller, "dim", None)
    return int(dim) if dim is not None else int(np.shape(controller.get_phi())[-1])


class ChannelSigns:
    """A MIMO controller or fleet whose every input c leaves multiplied by signs[c]: the
    controller a signed tuning runs on its plant. `update(y, yd)` returns what the wrapped
    controller's update returns (a list of floats, or an (n, dim) array for a fleet), signed;
    every other attribute is the wrapped controller's."""

    def __init__(self, controller: Any, signs: Sequence[float]) -> None:
        self.controller = controller
        self.dim = channels(controller)
        self.signs = check_signs(signs, self.dim)
        self._factors = np.asarray(self.signs)

    def __getattr__(self, name: str) -> Any:
        if name == "controller":  # not set yet (a copy being built)
            raise AttributeError(name)
        return getattr(self.controller, name)

    @property
    def label(self) -> str:
        """The wrapped controller's class name: what a run's table names it by."""
        return type(self.controller).__name__

    def __repr__(self) -> str:
        return f"ChannelSigns({self.controller!r}, signs={list(self.signs)!r})"

    def update(self, y: Any, yd: Any) -> Any:
        u = self.controller.update(y, yd)
        if isinstance(u, list):
            return [v * s for v, s in zip(u, self.signs)]
        return np.asarray(u) * self._factors


class FleetChannelSigns(ChannelSigns):
    """ChannelSigns around a MIMO fleet: as many members as the fleet."""

    def __len__(self) -> int:
        return len(self.controller)


def signed(controller: Any, signs: Sequence[float]) -> ChannelSigns:
    """`controller` (a MIMO controller or fleet) with its inputs signed."""
    if hasattr(type(controller), "__len__"):
        return FleetChannelSigns(controller, signs)
    return ChannelSigns(controller, signs)


def labelled(run: Any, controller: Any) -> Any:
    """`run` (a `Run` of `controller`) named after the controller a ChannelSigns wraps."""
    if not isinstance(controller, ChannelSigns):
        return run
    return replace(run, controller=controller.label)
