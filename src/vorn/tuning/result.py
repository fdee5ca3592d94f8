"""result.py: `Tuning`, what `vorn.tune` returns: the winning parameters and their cost beside
the class defaults' and a tuned PID's, and the ways to use them (a controller, a fleet, a
run, a figure, a configuration file)."""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from vorn.forms import SISO
from vorn.tuning import weights
from vorn.tuning.identify import Identified
from vorn.tuning.identify_mimo import ChannelsIdentified
from vorn.tuning.save import companion_lines, config_text, config_values, record, save_config


@dataclass
class PIDTuning:
    """The PID baseline tuned on the same runs: its keyword arguments and cost."""

    params: dict[str, Any]
    cost: float

    def controller(self, n: int = 1) -> Any:
        from vorn.loop.pid import PID

        return PID(**self.params, n=n)


@dataclass
class Tuning:
    """The result of `vorn.tune`.

    params        the constructor's keyword arguments of the winner
    cost          its cost (the objective over the scenarios, penalties included), judged on
                  the plant's own output: the true IAE (or ISE, ITAE), where `Run.metrics.iae`
                  is judged on the measured output, noise included
    held_out_cost the winner's cost on fresh scenarios it was not tuned on (None when the
                  scenarios are not random: no noise, no spread plants)
    default_cost  the class defaults' cost on the same runs (with the same input limits)
    pid           a PID tuned on the same runs with the same budget (`PIDTuning`), or None
    history       the best cost so far after every generation
    identified    what the bump test before the search found (`Identified`: dead time, gain
                  and its sign, the plant's rest output; for a MIMO plant `ChannelsIdentified`,
                  one per channel), or None when it was skipped or the output did not move
    warnings      lines on what the caller should know of the result: a value that sits on
                  a bound of the search, a loop chosen for its calmer input, one that chatters
    y0            the plant's output at rest, the level the loop started from (None unknown)

    For the full form, `params` may hold "rho_vector", the step factor of each estimate
    component, which `controller()`, `fleet()` and the saved file carry (vorn.tuning.weights).
    """

    form: str
    params: dict[str, Any]
    cost: float
    default_cost: float
    pid: PIDTuning | None
    history: list[float]
    evaluations: int
    generations: int
    elapsed: float
    interrupted: bool
    objective: tuple[str, str]
    plant: Any = field(repr=False)
    setpoint: np.ndarray = field(repr=False)
    noise: float = 0.0
    seed: int = 0
    operating_point: str | None = "plant"
    held_out_cost: float | None = None
    identified: Identified | ChannelsIdentified | None = None
    warnings: list[str] = field(default_factory=list)
    y0: float | None = None

    @property
    def pid_cost(self) -> float | None:
        """The tuned PID's cost on the same runs (None without a PID)."""
        return None if self.pid is None else self.pid.cost

    def controller(self) -> Any:
        """A new single controller with the winning parameters."""
        return weights.single(self.form, self.params)

    def fleet(self, n: int) -> Any:
        """A new fleet of `n` controllers with the winning parameters."""
        return weights.fleet(self.form, n, self.params)

    def run(self, controller: Any = None) -> Any:
        """A `Run` of the winner (or of `controller`) on the tuning's plant and set point,
        with its measurement noise (seeded as the tuning was)."""
        from vorn.loop.simulate import simulate

        return simulate(self.controller() if controller is None else controller,
                        self.plant, self.setpoint, noise=self.noise, seed=self.seed,
                        start=self.operating_point)

    def stress(self, seed: int | None = None) -> Any:
        """The tuned controller and the tuned PID on perturbed copies of the plant (gain ×0.5
        and ×2, one more sample of dead time, measurement noise): a `StressTable` of how each
        one's IAE degrades (vorn.tuning.stress)."""
        from vorn.tuning.stress import stress

        return stress(self, self.seed if seed is None else seed)

    def plot(self, path: str | os.PathLike[str] | None = None) -> Any:
        """The winner against the tuned PID and the class defaults on the tuning's run: one
        output panel above one input panel; saved to `path`, else the Figure returned."""
        from vorn.loop.figure import plot_tuning

        return plot_tuning(self, path)

    def config(self) -> tuple[Any, ...]:
        """The parameters as the 11-tuple that `load_config_from_yaml` returns."""
        defaults = SISO[self.form].single().__getnewargs__()
        return config_values(self.params, defaults)

    def yaml(self) -> str:
        """The configuration file's text."""
        return config_text(self.config(), self._header(), self._companions())

    def save(self, path: str | os.PathLike[str]) -> None:
        """Writes the parameters as a YAML configuration file that `load_config_from_yaml`
        reads back to exactly `params` (atomically: never half a file), with the companion
        keys that `vorn run --config` and `vorn export-c --config` also apply: the full
        form's step-factor vector and the operating point (vorn.tuning.save)."""
        save_config(path, self.config(), self._header(), self._companions())

    def _companions(self) -> str:
        return companion_lines(self.params.get(weights.RHO_VECTOR), self.operating_point, self.y0)

    def _summary(self, plant_words: str = "", measure_words: str = "") -> str:
        """The file's first line: what was tuned on which plant, and the costs."""
        name = self.objective[0].upper()
        plant = self.plant if isinstance(self.plant, str) else getattr(self.plant, "name", type(self.plant).__name__)
        held = "" if self.held_out_cost is None else f", {self.held_out_cost:.6g} held out"
        return (f"vorn tune: {self.form} on {plant}{plant_words}, {name}{measure_words} {self.cost:.6g}{held} "
                f"(class defaults {self.default_cost:.6g}"
                + (f", tuned PID {self.pid.cost:.6g})" if self.pid else ")"))

    def _header(self) -> str:
        lines = [self._summary()]
        if self.interrupted:
            lines.append("interrupted: the best parameters found before the search was stopped")
        lines.append(record(self.form, self.pid.params if self.pid else None))
        return "\n".join(lines)
