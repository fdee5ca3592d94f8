"""deploy.py: from a tuned controller to a control loop in C that computes the very same numbers.

Loads the FFDL controller of tuned.yaml, exports it as C, builds plant_loop.c (the dead-time
plant and the loop, in C) with the system's C compiler, runs both loops and prints them side
by side. With --mimo it does the same for a 2x2 partial-form controller on a coupled plant
(plant_loop_mimo.c), after letting it learn that plant in Python for a while: the C goes on
from the state the controller has then. Exit status 0 when every number agrees to the last
bit.

    python examples/deploy_c/deploy.py [--mimo] [STEPS]
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from typing import Any, Callable

import vorn
from vorn.plants import DeadTimePlant

HERE = os.path.dirname(os.path.abspath(__file__))
FLAGS = ["-std=c99", "-O2", "-ffp-contract=off", "-Wall", "-Wextra", "-pedantic"]

# The coupled plant of --mimo, y(k+1) = A y(k) + B u(k): the same literals as plant_loop_mimo.c's.
A = ((0.8, 0.1), (0.05, 0.7))
B = ((0.3, 0.1), (0.05, 0.4))


def set_point(k: int) -> float:
    return 1.0 if (k // 20) % 2 == 0 else 2.0


def python_loop(controller: vorn.FFDLController, steps: int) -> list[str]:
    plant, y, lines = DeadTimePlant(), 0.0, []
    for k in range(steps):
        yd = set_point(k)
        u = controller.update(y, yd)
        y = plant.step(u)
        lines.append(f"{k} {yd:.17g} {u:.17g} {y:.17g}")
    return lines


def set_points(k: int) -> list[float]:
    return [1.0 if (k // 25) % 2 == 0 else 1.5, 0.5 if (k // 40) % 2 == 0 else -0.5]


def python_mimo_loop(controller: vorn.MimoPfdlController, steps: int) -> list[str]:
    y, lines = [0.0, 0.0], []
    for k in range(steps):
        yd = set_points(k)
        u = controller.update(y, yd)
        y = [A[i][0] * y[0] + A[i][1] * y[1] + B[i][0] * u[0] + B[i][1] * u[1] for i in range(2)]
        lines.append(" ".join([str(k)] + [f"{v:.17g}" for v in yd + u + y]))
    return lines


def c_loop(controller: Any, loop: str, name: str, steps: int, cc: str, build: str) -> list[str]:
    """The controller exported as `name` into `build`, the C loop `loop` built around it and run."""
    vorn.export_c(controller, build, name)
    exe = os.path.join(build, "plant_loop")
    subprocess.run([cc, *FLAGS, "-I", build, os.path.join(HERE, loop), os.path.join(build, f"{name}.c"),
                    "-o", exe, "-lm"], check=True)
    return subprocess.run([exe, str(steps)], check=True, capture_output=True, text=True).stdout.splitlines()


def main() -> int:
    args = sys.argv[1:]
    mimo = "--mimo" in args
    args = [a for a in args if a != "--mimo"]
    steps = int(args[0]) if args else (80 if mimo else 60)
    cc = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        print("deploy.py: no C compiler found (install gcc, or set CC)", file=sys.stderr)
        return 1
    controller: Any
    run: Callable[[Any, int], list[str]]
    if mimo:
        controller = vorn.MimoPfdlController(2, rho=0.6, lambda_=0.1, l_u=2)
        python_mimo_loop(controller, 100)  # it learns the plant; the loops below start again from y = 0
        run, loop, name = python_mimo_loop, "plant_loop_mimo.c", "vorn_mimo"
        shown = (3, 4)  # u1 and u2 of "k yd1 yd2 u1 u2 y1 y2"
    else:
        controller = vorn.FFDLController(*vorn.load_config_from_yaml(True, os.path.join(HERE, "tuned.yaml")))
        run, loop, name = python_loop, "plant_loop.c", "vorn_ctrl"
        shown = (2, 3)  # u and y of "k yd u y"
    with tempfile.TemporaryDirectory() as build:
        c_lines = c_loop(controller, loop, name, steps, cc, build)  # exported before the Python run changes it
    py_lines = run(controller, steps)

    titles = ["u1", "u2"] if mimo else ["u", "y"]
    print(f"{'k':>3} | " + " ".join(f"{t + ' (Python)':>22}" for t in titles) + " | "
          + " ".join(f"{t + ' (C)':>22}" for t in titles))
    same = 0
    for p, c in zip(py_lines, c_lines):
        ours, theirs = p.split(), c.split()
        same += p == c
        print(f"{ours[0]:>3} | " + " ".join(f"{ours[i]:>22}" for i in shown) + " | "
              + " ".join(f"{theirs[i]:>22}" for i in shown) + ("" if p == c else "  <- differs"))
    identical = same == steps == len(c_lines)
    print(f"{same} of {steps} samples identical to the last bit" if identical
          else f"only {same} of {steps} samples agree")
    return 0 if identical else 1


if __name__ == "__main__":
    sys.exit(main())
