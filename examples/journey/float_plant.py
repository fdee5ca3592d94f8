"""float_plant.py: a plant written for one float, as a rig's model usually is, run as many
independent copies for a fleet of controllers and for the tuner, with no vectorising by hand.

The rig: a heated tank whose heater saturates (tanh), first order with a time constant of about
ten samples; its output is the temperature rise above ambient (at rest: 0). Eight copies whose
heater gains spread by ±20 % show how one tuning holds across units.

    python examples/journey/float_plant.py [--generations N]
"""

from __future__ import annotations

import argparse
import math

import numpy as np

import vorn
from vorn.plants import from_scalar


class HeatedTank:
    """One tank, in floats: reset() -> temperature at rest, step(u) -> the next temperature."""

    def __init__(self, rest: float = 0.0) -> None:
        self.rest = rest

    def reset(self) -> float:
        self.t = self.rest
        return self.t

    def step(self, u: float) -> float:
        self.t = 0.9 * self.t + 0.1 * (self.rest + 10.0 * math.tanh(u))
        return self.t


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--generations", type=int, default=30)
    args = parser.parse_args()

    setpoint = np.repeat([2.0, 5.0, 3.0], 120)
    tuning = vorn.tune("cfdl", from_scalar(HeatedTank), setpoint, seed=2, max_generations=args.generations)
    print(f"cfdl tuned: IAE {tuning.cost:.3f} (class defaults {tuning.default_cost:.3f})")

    units = from_scalar(HeatedTank, spread=0.2, rng=np.random.default_rng(5))
    fleet = vorn.simulate(tuning.fleet(8), units, setpoint)
    iae = fleet.metrics.iae
    print(f"8 units with ±20 % heater gains: IAE from {iae.min():.3f} to {iae.max():.3f}")


if __name__ == "__main__":
    main()
