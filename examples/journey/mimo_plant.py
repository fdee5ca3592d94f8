"""mimo_plant.py: a 2×2 process with interaction, two tanks each filled by both pumps, given
as a python-control state-space system and closed with a MIMO controller (simulation only).

    python examples/journey/mimo_plant.py
"""

from __future__ import annotations

import control
import numpy as np

import vorn
from vorn.plants import from_control


def main() -> None:
    tanks = control.ss([[-1 / 6, 0.0], [0.0, -1 / 8]],     # levels drain with 6 s and 8 s
                       [[0.5, 0.15], [0.1, 0.4]],          # pump 1 feeds tank 1 mostly, pump 2 tank 2
                       np.eye(2), np.zeros((2, 2)))
    plant = from_control(tanks, dt=1.0, delay=1, name="two tanks")
    steps = 480
    levels = np.repeat([[1.0, 0.5], [1.5, 0.5], [1.5, 1.0], [1.0, 1.0]], steps // 4, axis=0)
    controller = vorn.MimoPfdlController(2, mu=0.1, rho=0.6, lambda_=1.0, initial_phi=0.5, l_u=2)
    run = vorn.simulate(controller, plant, levels)
    print(vorn.table([run]))
    print("final levels", np.round(run.y[-1, 0], 3), "set", levels[-1])


if __name__ == "__main__":
    main()
