"""deploy.py: from a saved MIMO tuning to a control loop in C that computes the very same numbers.

Reads tuned.vorn, a MIMO tuning's file (`vorn tune` on the 2x2 plant below, whose second input
lowers its output, so that its channel sign is -1), exports its controller as C, builds
plant_loop.c (the plant and the loop, in C) with the system's C compiler, runs the loop in C
and in Python (the controller with its inputs signed, as `vorn run --config` runs it) and
prints them side by side. Exit status 0 when every number agrees to the last bit.

    python examples/deploy_mimo_c/deploy.py [STEPS]

To tune the file again (it records the command's results):

    python examples/deploy_mimo_c/deploy.py --tune
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np

import vorn
from vorn.tuning.mimo_file import read_mimo_file
from vorn.tuning.mimo_signs import signed

HERE = os.path.dirname(os.path.abspath(__file__))
TUNED = os.path.join(HERE, "tuned.vorn")
FLAGS = ["-std=c99", "-O2", "-ffp-contract=off", "-Wall", "-Wextra", "-pedantic"]



def plant_step(y: list[float], u: list[float]) -> list[float]:
    """One sample of the plant, the same equations in the same order as plant_loop.c's:
    y1(k+1) = 0.6 y1 + 0.5 u1 + 0.1 u2, y2(k+1) = 0.5 y2 + 0.15 u1 - 0.6 u2."""
    return [0.6 * y[0] + 0.5 * u[0] + 0.1 * u[1], 0.5 * y[1] + 0.15 * u[0] - 0.6 * u[1]]


def set_points(k: int) -> list[float]:
    return [1.0 if (k // 50) % 2 == 0 else 0.5, 0.8 if (k // 75) % 2 == 0 else 0.4]


class Plant:
    """The plant over n copies, for the tuner."""

    dim = 2
    name = "two-channel"

    def reset(self, n: int) -> np.ndarray:
        self.y = np.zeros((n, 2))
        return self.y.copy()

    def step(self, u: np.ndarray) -> np.ndarray:
        self.y = np.array([plant_step(y, v) for y, v in zip(self.y.tolist(), np.asarray(u).tolist())])
        return self.y.copy()


def python_loop(controller: vorn.MimoPfdlController, signs: tuple[float, ...], steps: int) -> list[str]:
    loop = signed(controller, signs)
    y, lines = [0.0, 0.0], []
    for k in range(steps):
        yd = set_points(k)
        u = loop.update(y, yd)
        y = plant_step(y, u)
        lines.append(" ".join([str(k)] + [f"{v:.17g}" for v in yd + u + y]))
    return lines


def c_loop(controller: object, signs: tuple[float, ...], steps: int, cc: str, build: str) -> list[str]:
    vorn.export_c(controller, build, "vorn_mimo")
    exe = os.path.join(build, "plant_loop")
    subprocess.run([cc, *FLAGS, "-I", build, os.path.join(HERE, "plant_loop.c"),
                    os.path.join(build, "vorn_mimo.c"), "-o", exe, "-lm"], check=True)
    args = [str(steps), *(repr(s) for s in signs)]
    return subprocess.run([exe, *args], check=True, capture_output=True, text=True).stdout.splitlines()


def tune() -> int:
    yd = np.array([set_points(k) for k in range(300)])
    tuning = vorn.tune("pfdl", Plant(), yd, seed=0, max_evaluations=800, operating_point=None)
    tuning.save(TUNED)
    print(f"IAE {tuning.cost:.4g} tuned (class defaults {tuning.default_cost:.4g}, tuned decentralised PID "
          f"{tuning.pid.cost:.4g}); signs {tuning.signs}; wrote {TUNED}")
    return 0


def main() -> int:
    args = sys.argv[1:]
    if args == ["--tune"]:
        return tune()
    steps = int(args[0]) if args else 60
    cc = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        print("deploy.py: no C compiler found (install gcc, or set CC)", file=sys.stderr)
        return 1
    record = read_mimo_file(TUNED)
    controller = record.controller()
    print(f"{os.path.basename(TUNED)}: {type(controller).__name__}, channel signs {list(record.signs)}")
    with tempfile.TemporaryDirectory() as build:
        c_lines = c_loop(controller, record.signs, steps, cc, build)
    py_lines = python_loop(controller, record.signs, steps)
    differing = [k for k, (p, c) in enumerate(zip(py_lines, c_lines)) if p != c]
    print("sample: u1, u2 applied in Python | in C")
    for k in sorted(set(range(0, steps, max(1, steps // 8))) | set(differing[:5])):
        ours, theirs = py_lines[k].split()[3:5], c_lines[k].split()[3:5] if k < len(c_lines) else ["-", "-"]
        print(f"{k:>6}: {' '.join(ours)} | {' '.join(theirs)}" + ("  <- differs" if k in differing else ""))
    identical = not differing and len(c_lines) == steps
    print(f"{steps} of {steps} samples identical to the last bit" if identical
          else f"{len(differing)} of {steps} samples differ")
    return 0 if identical else 1

if __name__ == "__main__":
    sys.exit(main())
