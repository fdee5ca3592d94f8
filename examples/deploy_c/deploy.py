"""deploy.py: from a tuned YAML file to a control loop in C that computes the very same numbers.

Loads the FFDL controller of tuned.yaml, exports it as C, builds plant_loop.c (the dead-time
plant and the loop, in C) with the system's C compiler, runs both loops and prints them side
by side. Exit status 0 when every number agrees to the last bit.

    python examples/deploy_c/deploy.py [STEPS]
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile

import vorn
from vorn.plants import DeadTimePlant

HERE = os.path.dirname(os.path.abspath(__file__))
FLAGS = ["-std=c99", "-O2", "-ffp-contract=off", "-Wall", "-Wextra", "-pedantic"]


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


def c_loop(controller: vorn.FFDLController, steps: int, cc: str, build: str) -> list[str]:
    vorn.export_c(controller, build, "vorn_ctrl")
    exe = os.path.join(build, "plant_loop")
    subprocess.run([cc, *FLAGS, "-I", build, os.path.join(HERE, "plant_loop.c"), os.path.join(build, "vorn_ctrl.c"),
                    "-o", exe, "-lm"], check=True)
    return subprocess.run([exe, str(steps)], check=True, capture_output=True, text=True).stdout.splitlines()


def main() -> int:
    steps = int(sys.argv[1]) if len(sys.argv) > 1 else 60
    cc = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        print("deploy.py: no C compiler found (install gcc, or set CC)", file=sys.stderr)
        return 1
    controller = vorn.FFDLController(*vorn.load_config_from_yaml(True, os.path.join(HERE, "tuned.yaml")))
    with tempfile.TemporaryDirectory() as build:
        c_lines = c_loop(controller, steps, cc, build)  # exported before the Python run changes it
    py_lines = python_loop(controller, steps)

    print(f"{'k':>3} {'yd':>4} | {'u (Python)':>22} {'y (Python)':>22} | {'u (C)':>22} {'y (C)':>22}")
    same = 0
    for p, c in zip(py_lines, c_lines):
        k, yd, u_py, y_py = p.split()
        _, _, u_c, y_c = c.split()
        same += p == c
        print(f"{k:>3} {yd:>4} | {u_py:>22} {y_py:>22} | {u_c:>22} {y_c:>22}" + ("" if p == c else "  <- differs"))
    identical = same == steps == len(c_lines)
    print(f"{same} of {steps} samples identical to the last bit" if identical
          else f"only {same} of {steps} samples agree")
    return 0 if identical else 1


if __name__ == "__main__":
    sys.exit(main())
