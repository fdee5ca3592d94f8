"""identify_mimo.py: the bump test of a MIMO plant, one channel at a time: the sign of each
input's effect on its own output, and the dead time before the first of them moves.

Channel c is bumped alone (the other inputs held at u0) on a fresh copy of the plant, and the
SISO bump test (vorn.tuning.identify.bump_test) reads output c. A channel whose output does
not move is taken as positive.
"""

from __future__ import annotations

from dataclasses import dataclass, replace
from typing import Any

import numpy as np

from vorn.tuning.identify import Identified, bump_test


# The MIMO bump's size against the SISO test's: the other channels' outputs move too, through
# the coupling, and a whole unit on one input can drive a coupled nonlinear plant out of range.
BUMP_SCALE = 0.1


class ChannelView:
    """Channel c of a MIMO plant as a SISO plant: its input moves input c alone (the others
    at `u0`), by BUMP_SCALE of its own move from u0; its output is output c."""

    def __init__(self, plant: Any, channel: int, dim: int, u0: float) -> None:
        self.plant, self.channel, self.dim, self.u0 = plant, channel, dim, u0

    def reset(self, n: int) -> np.ndarray:
        return self._output(self.plant.reset(n))

    def step(self, u: np.ndarray) -> np.ndarray:
        inputs = np.full((len(u), self.dim), self.u0)
        inputs[:, self.channel] = self.u0 + BUMP_SCALE * (np.asarray(u, dtype=float) - self.u0)
        return self._output(self.plant.step(inputs))

    def _output(self, y: Any) -> np.ndarray:
        return np.asarray(y, dtype=float).reshape(-1, self.dim)[:, self.channel]


@dataclass(frozen=True)
class ChannelsIdentified:
    """What the per-channel bump test found.

    channels    per channel, the SISO bump test's finding (None: the output did not move)
    signs       per channel, +1.0 or -1.0: the sign of output c's move for a rising input c
    dead_time   the shortest dead time of the channels that moved (samples)
    """

    channels: tuple[Identified | None, ...]
    signs: tuple[float, ...]
    dead_time: int

    def describe(self) -> str:
        parts = []
        for c, found in enumerate(self.channels):
            parts.append(f"channel {c}: " + ("no response" if found is None else
                                             f"gain {found.gain:.4g}, dead time {found.dead_time}"))
        return "identified: " + "; ".join(parts)


def channel_bump_tests(make_plant: Any, dim: int, u0: float = 0.0) -> ChannelsIdentified | None:
    """The bump test of every channel, each on a fresh plant from `make_plant()`; None when
    no channel's output moved."""
    found = tuple(_in_plant_units(bump_test(ChannelView(make_plant(), c, dim, u0), u0)) for c in range(dim))
    moved = [f for f in found if f is not None]
    if not moved:
        return None
    signs = tuple(1.0 if f is None else f.gain_sign for f in found)
    return ChannelsIdentified(found, signs, min(f.dead_time for f in moved))


def _in_plant_units(found: Identified | None) -> Identified | None:
    """A channel's finding with the bump and the gain of the plant's own input."""
    return None if found is None else replace(found, gain=found.gain / BUMP_SCALE, bump=found.bump * BUMP_SCALE)
