"""mimo_result.py: `MimoTuning`, what `vorn.tune` returns for a MIMO plant: a `Tuning` whose
controller is the MIMO class of its form, whose fleet is the MIMO fleet, whose runs are MIMO
`Run`s, and whose file is a MIMO tuning's file (vorn.tuning.mimo_file).

`signs` holds each channel's input sign: the controller's input c is multiplied by signs[c]
on its way to the plant (`signed_controller()` does it; the tuned PID's gains already carry
the signs). With every sign +1, the controller runs on the plant as it is.
"""

from __future__ import annotations

import os
from dataclasses import dataclass, field, replace
from typing import Any

import numpy as np

from vorn.forms import MIMO
from vorn.tuning.mimo_file import MimoRecord, full_params, mimo_text, save_mimo
from vorn.tuning.mimo_signs import signed
from vorn.tuning.mimo_space import signed_gains
from vorn.tuning.result import PIDTuning, Tuning
from vorn.tuning.search import SearchResult


@dataclass
class MimoTuning(Tuning):
    """The result of `vorn.tune` on a MIMO plant; see `Tuning` for the fields it shares.

    dim     the plant's channels
    signs   per channel, the sign the controller's input is multiplied by (+1.0 or -1.0)

    `cost` (and `default_cost`, the PID's) is the sum over the channels of each channel's
    objective: the IAE of a run is `run.metrics.iae.sum(axis=-1)`.
    """

    dim: int = 2
    signs: tuple[float, ...] = field(default=())

    def controller(self) -> Any:
        """A new controller of the form's MIMO class with the winning parameters."""
        return MIMO[self.form].single(**self.record().params)

    def signed_controller(self) -> Any:
        """controller() with its inputs multiplied by the channels' signs: what runs on the plant."""
        return signed(self.controller(), self.signs)

    def fleet(self, n: int) -> Any:
        """A new MIMO fleet of `n` controllers with the winning parameters."""
        cls = MIMO[self.form].fleet
        if cls is None:
            raise ImportError("controller fleets are not built into this installation of vorn")
        params = self.record().params
        return cls(n, **params)

    def run(self, controller: Any = None) -> Any:
        """A MIMO `Run` of the winner (signed), or of `controller` as given, on the tuning's
        plant and set point, with its measurement noise (seeded as the tuning was)."""
        from vorn.loop.simulate import simulate

        return simulate(self.signed_controller() if controller is None else controller,
                        self.plant, self.setpoint, noise=self.noise, seed=self.seed,
                        start=self.operating_point)

    def default_controller(self) -> Any:
        """The class with its defaults, signed as the winner: the loop `default_cost` costs."""
        return signed(MIMO[self.form].single(self.dim), self.signs)

    def stress(self, seed: int | None = None) -> Any:
        raise TypeError("the stress table covers SISO tunings; run the MIMO controller on your perturbed "
                        "plants with vorn.simulate")

    def plot(self, path: str | os.PathLike[str] | None = None) -> Any:
        """The winner, the tuned PID and the class defaults on the tuning's run, every
        channel (vorn.plot_runs); saved to `path`, else the Figure returned."""
        from vorn.loop.figure import plot_runs

        runs = [replace(self.run(), controller=f"tuned MIMO {self.form.upper()}")]
        if self.pid is not None:
            runs.append(replace(self.run(self.pid.controller(self.dim)), controller="tuned decentralised PID"))
        runs.append(replace(self.run(self.default_controller()), controller="class defaults"))
        return plot_runs(runs, None if path is None else os.fspath(path))

    def record(self) -> MimoRecord:
        """What the tuning's file holds."""
        return MimoRecord(self.form, full_params(self.form, self.dim, self.params), tuple(self.signs),
                          self.operating_point, None if self.pid is None else
                          {k: [float(v) for v in self.pid.params[k]] for k in ("kp", "ki", "kd")})

    def config(self) -> tuple[Any, ...]:
        raise TypeError("a MIMO tuning has no SISO configuration tuple: record() holds its parameters")

    def yaml(self) -> str:
        """The MIMO tuning's file text (vorn.tuning.mimo_file)."""
        return mimo_text(self.record(), self._header())

    def save(self, path: str | os.PathLike[str]) -> None:
        """Writes the MIMO tuning's file (vorn.tuning.mimo_file), atomically, after checking
        that it reads back to exactly the same values; `vorn run --config` and `vorn export-c
        --config` read it (the YAML loader reads SISO files only)."""
        save_mimo(path, self.record(), self._header())

    def _header(self) -> str:
        lines = [self._summary(f" ({self.dim} channels, MIMO)", " summed over the channels"),
                 "a MIMO tuning's file: vorn run --config and vorn export-c --config read it; "
                 "load_config_from_yaml reads SISO files only"]
        if self.interrupted:
            lines.append("interrupted: the best parameters found before the search was stopped")
        return "\n".join(lines)


def mimo_result(form: str, found: SearchResult, default_cost: float, pid: PIDTuning | None, elapsed: float,
                objective: tuple[str, str], plant: Any, yd: np.ndarray, noise: float, seed: int,
                operating_point: str | None, held_out: float | None, identified: Any, notes: list[str],
                dim: int, signs: tuple[float, ...] | None) -> MimoTuning:
    """The MimoTuning of a finished search; the PID's gains given the channels' signs."""
    chosen = signs if signs is not None else (1.0,) * dim
    signed_pid = None if pid is None else PIDTuning(signed_gains(pid.params, chosen), pid.cost)
    return MimoTuning(form, found.params, found.cost, default_cost, signed_pid, found.history,
                      found.evaluations, found.generations, elapsed, found.interrupted, objective, plant, yd,
                      noise, seed, operating_point, held_out, identified, notes, None, dim, chosen)
