"""plants.py: the built-in simulated plants that the demo and `vorn run` close loops on."""

from __future__ import annotations

import math
from collections import deque


def _sin(x: float) -> float:
    # math.sin raises on infinities; a diverging run should yield NaN, not an exception.
    return math.sin(x) if math.isfinite(x) else math.nan


class NonlinearPlant:
    """y(k+1) = y(k) / (1 + y(k)²) + u(k)³"""

    name = "nonlinear"
    dim = 1

    def __init__(self) -> None:
        self.y = 0.0

    def step(self, u: float) -> float:
        y = self.y
        self.y = y / (1.0 + y * y) + u * u * u
        return self.y


class TimeVaryingPlant:
    """First half:  y(k+1) = 0.7·y(k) + 0.5·u(k)
    second half: y(k+1) = 0.5·y(k) + 0.2·y(k−1) + 1.2·u(k) + 0.3·u(k−1)

    The switch, at sample `switch_at`, adds an output and an input lag and triples the
    steady-state gain (from 5/3 to 5).
    """

    name = "time-varying"
    dim = 1

    def __init__(self, switch_at: int = 300) -> None:
        self.switch_at = switch_at
        self.k = 0
        self.y = 0.0
        self.y_prev = 0.0
        self.u_prev = 0.0

    def step(self, u: float) -> float:
        y = self.y
        if self.k < self.switch_at:
            y_next = 0.7 * y + 0.5 * u
        else:
            y_next = 0.5 * y + 0.2 * self.y_prev + 1.2 * u + 0.3 * self.u_prev
        self.k += 1
        self.y_prev, self.y, self.u_prev = y, y_next, u
        return y_next


class DeadTimePlant:
    """y(k+1) = 0.8·y(k) + 0.4·u(k−3): first order with gain 2 and a time constant of about
    4.5 samples, behind a dead time of three samples on top of the one-sample step."""

    name = "dead-time"
    dim = 1
    a = 0.8
    gain = 2.0
    delay = 3

    def __init__(self) -> None:
        self.y = 0.0
        self.pending: deque[float] = deque([0.0] * self.delay)

    def step(self, u: float) -> float:
        self.pending.append(u)
        delayed = self.pending.popleft()
        self.y = self.a * self.y + (1.0 - self.a) * self.gain * delayed
        return self.y


class CoupledPlant:
    """The coupled 2×2 nonlinear benchmark:
    y1(k+1) = 0.9·y1(k) − 0.3·y1(k−1)/(1 + y2(k−1)²) + 0.7·u1(k) + 0.1·y1(k−1)²·y2(k)²
              + 0.3·sin(u1(k−1)) − 0.7·u2(k) + 0.6·u2(k−1)
    y2(k+1) = −0.1·y2(k−1) + 0.3·y1(k−1)·y2(k) + 0.8·sin(u1(k)) + 0.1·u1(k−1)
              + 0.9·u2(k) + 0.2·u2(k−1) + 0.1·u2(k−1)²
    """

    name = "coupled"
    dim = 2

    def __init__(self) -> None:
        self.y = [0.0, 0.0]
        self.y_prev = [0.0, 0.0]
        self.u_prev = [0.0, 0.0]

    def step(self, u: list[float]) -> list[float]:
        (y1, y2), (p1, p2) = self.y, self.y_prev
        (u1, u2), (v1, v2) = u, self.u_prev
        n1 = (0.9 * y1 - 0.3 * p1 / (1.0 + p2 * p2) + 0.7 * u1 + 0.1 * p1 * p1 * y2 * y2
              + 0.3 * _sin(v1) - 0.7 * u2 + 0.6 * v2)
        n2 = (-0.1 * p2 + 0.3 * p1 * y2 + 0.8 * _sin(u1) + 0.1 * v1
              + 0.9 * u2 + 0.2 * v2 + 0.1 * v2 * v2)
        self.y_prev, self.y, self.u_prev = self.y, [n1, n2], [u1, u2]
        return [n1, n2]


PLANTS = {cls.name: cls for cls in (NonlinearPlant, TimeVaryingPlant, DeadTimePlant, CoupledPlant)}
