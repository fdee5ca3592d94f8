"""noisy_robust.py: a noisy heat exchanger tuned on one noise draw and on six (scenarios),
each tuning then checked on ten noise draws it did not see. The fresh draws' IAE is that of
`vorn.simulate`'s runs, taken on the measured (noisy) output, so it sits above the tuner's
cost: compare the two tunings on the fresh draws, not a tuning with itself.

The exchanger: outlet temperature (in deviation from rest) after a first-order lag and a
dead time of two samples, a load step at sample 200, measured with noise of standard
deviation 0.05.

    python examples/journey/noisy_robust.py [--generations N]
"""

from __future__ import annotations

import argparse

import numpy as np
from scipy import signal

import vorn
from vorn.plants import from_scipy

NOISE = 0.05


def exchanger() -> vorn.Plant:
    return from_scipy(signal.dlti([0.15], [1.0, -0.85], dt=1.0), delay=2, name="exchanger",
                      disturbance=(-0.3, 200))


def fresh_cost(tuning: vorn.Tuning, setpoint: np.ndarray, seeds: range) -> float:
    """The mean IAE of the tuned controller on noise draws the tuner did not see."""
    return float(np.mean([vorn.simulate(tuning.controller(), exchanger(), setpoint, noise=NOISE,
                                        seed=seed).metrics.iae[0] for seed in seeds]))


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--generations", type=int, default=30)
    args = parser.parse_args()

    setpoint = np.repeat([1.0, 2.0, 1.0], 120)
    for scenarios in (1, 6):
        tuning = vorn.tune("pfdl", exchanger(), setpoint, seed=3, scenarios=scenarios, noise=NOISE,
                           max_generations=args.generations, pid=False)
        print(f"{scenarios} scenario(s): IAE {tuning.cost:.3f} on the tuning's draws, "
              f"{fresh_cost(tuning, setpoint, range(100, 110)):.3f} on 10 fresh ones")


if __name__ == "__main__":
    main()
