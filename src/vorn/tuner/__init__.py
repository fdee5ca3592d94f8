"""vorn.tuner: searching a controller's parameters on a plant (`vorn.tune`), and the result
it returns (`Tuning`); see tune.py."""

from vorn.tuner.result import PIDTuning, Tuning
from vorn.tuner.tune import tune

__all__ = ["tune", "Tuning", "PIDTuning"]
