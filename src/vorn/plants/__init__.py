"""vorn.plants: the plants to close loops on.

    builtin     the built-in benchmark plants and the plant protocol (`Plant`), with the
                options every plant takes (noise, disturbance, spread, rng)
    adapters    a user's own system as a plant: from_control (python-control), from_scipy
                (SciPy), from_scalar (a plant class written for floats)

Every name lives here too, as `vorn.plants.NAME`.
"""

from __future__ import annotations

from vorn.plants.adapters import (AdaptedPlant, NonlinearSystemPlant, ScalarCopies, StateSpacePlant,
                                  from_control, from_scalar, from_scipy)
from vorn.plants.builtin import (PLANTS, BenchmarkPlant, CoupledPlant, DeadTimePlant, NonlinearPlant,
                                 Perturbed, Plant, RationalPlant, TankPlant, TimeVaryingPlant,
                                 check_copies, check_noise, check_spread, make, parse_disturbance,
                                 plant_class)

__all__ = ["PLANTS", "AdaptedPlant", "BenchmarkPlant", "CoupledPlant", "DeadTimePlant",
           "NonlinearPlant", "NonlinearSystemPlant", "Perturbed", "Plant", "RationalPlant",
           "ScalarCopies", "StateSpacePlant", "TankPlant", "TimeVaryingPlant", "check_copies",
           "check_noise", "check_spread", "from_control", "from_scalar", "from_scipy", "make",
           "parse_disturbance", "plant_class"]
