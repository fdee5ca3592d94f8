"""MIMO plants of the tuner's tests: a 2x2 linear coupled plant whose second channel's gain
is negative, and three tanks in a row, each filled by its own pump and draining through a
square-root outlet into its neighbours (mildly nonlinear)."""

import numpy as np


class NegativeChannel:
    """y1(k+1) = 0.6·y1 + 0.5·u1 + 0.1·u2,  y2(k+1) = 0.5·y2 + 0.15·u1 − 0.6·u2"""

    dim = 2
    name = "negative-channel"

    def reset(self, n):
        self.y = np.zeros((n, 2))
        return self.y.copy()

    def step(self, u):
        u = np.asarray(u, dtype=float)
        y1 = 0.6 * self.y[:, 0] + 0.5 * u[:, 0] + 0.1 * u[:, 1]
        y2 = 0.5 * self.y[:, 1] + 0.15 * u[:, 0] - 0.6 * u[:, 1]
        self.y = np.stack([y1, y2], axis=1)
        return self.y.copy()


class ThreeTanks:
    """Levels (deviations from rest) of three tanks in a row: each drains through an outlet
    whose flow grows with the square root of its level, and exchanges a tenth of the level
    difference with its neighbours; pump c fills tank c."""

    dim = 3
    name = "three-tanks"
    gains = (0.3, 0.3, 0.25)

    def reset(self, n):
        self.y = np.zeros((n, 3))
        return self.y.copy()

    def step(self, u):
        u = np.asarray(u, dtype=float)
        y = self.y
        drain = 0.4 * (np.sqrt(1.0 + np.abs(y)) - 1.0) * np.sign(y)
        exchange = np.zeros_like(y)
        exchange[:, :2] += 0.1 * (y[:, 1:] - y[:, :2])
        exchange[:, 1:] += 0.1 * (y[:, :2] - y[:, 1:])
        self.y = y - drain + exchange + u * np.asarray(self.gains)
        return self.y.copy()


def square_waves(steps, levels, hold=100):
    """One square wave per channel: channel c between levels[c] and levels[c] / 2."""
    k = (np.arange(steps) // hold) % 2
    return np.stack([np.where(k == 0, level, level / 2.0) for level in levels], axis=1)
