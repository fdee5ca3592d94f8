"""deploy.py: a MIMO controller, run a while in Python, continued in C with the very same numbers.

Builds a 2x2 partial-form controller, lets it learn the coupled two-tank plant for a while,
exports it as C (its state as it stands then), builds plant_loop.c (the plant and the loop,
in C) with the system's C compiler, continues both loops and prints them side by side. Exit
status 0 when every number agrees to the last bit.

    python examples/deploy_c_mimo/deploy.py [STEPS]
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile

import vorn

HERE = os.path.dirname(os.path.abspath(__file__))
FLAGS = ["-std=c99", "-O2", "-ffp-contract=off", "-Wall", "-Wextra", "-pedantic"]

# y(k+1) = A y(k) + B u(k), the same literals as plant_loop.c's.
A = ((0.8, 0.1), (0.05, 0.7))
B = ((0.3, 0.1), (0.05, 0.4))


def plant_step(y: list[float], u: list[float]) -> list[float]:
    return [A[i][0] * y[0] + A[i][1] * y[1] + B[i][0] * u[0] + B[i][1] * u[1] for i in range(2)]


def set_point(k: int) -> list[float]:
    return [1.0 if (k // 25) % 2 == 0 else 1.5, 0.5 if (k // 40) % 2 == 0 else -0.5]


def python_loop(controller: vorn.MimoPfdlController, steps: int) -> list[str]:
    y, lines = [0.0, 0.0], []
    for k in range(steps):
        yd = set_point(k)
        u = controller.update(y, yd)
        y = plant_step(y, u)
        lines.append(" ".join([str(k)] + [f"{v:.17g}" for v in yd + u + y]))
    return lines


def c_loop(controller: vorn.MimoPfdlController, steps: int, cc: str, build: str) -> list[str]:
    vorn.export_c(controller, build, "vorn_mimo")
    exe = os.path.join(build, "plant_loop")
    subprocess.run([cc, *FLAGS, "-I", build, os.path.join(HERE, "plant_loop.c"), os.path.join(build, "vorn_mimo.c"),
                    "-o", exe, "-lm"], check=True)
    return subprocess.run([exe, str(steps)], check=True, capture_output=True, text=True).stdout.splitlines()


def main() -> int:
    steps = int(sys.argv[1]) if len(sys.argv) > 1 else 80
    cc = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        print("deploy.py: no C compiler found (install gcc, or set CC)", file=sys.stderr)
        return 1
    controller = vorn.MimoPfdlController(2, rho=0.6, lambda_=0.1, l_u=2)
    python_loop(controller, 100)  # it learns the plant; the loops below start again from y = 0
    with tempfile.TemporaryDirectory() as build:
        c_lines = c_loop(controller, steps, cc, build)  # exported before the Python run goes on
    py_lines = python_loop(controller, steps)

    print(f"{'k':>3} | {'u1 (Python)':>22} {'u2 (Python)':>22} | {'u1 (C)':>22} {'u2 (C)':>22}")
    same = 0
    for p, c in zip(py_lines, c_lines):
        k, _, _, u1, u2, _, _ = p.split()
        _, _, _, c1, c2, _, _ = c.split()
        same += p == c
        print(f"{k:>3} | {u1:>22} {u2:>22} | {c1:>22} {c2:>22}" + ("" if p == c else "  <- differs"))
    identical = same == steps == len(c_lines)
    print(f"{same} of {steps} samples identical to the last bit" if identical
          else f"only {same} of {steps} samples agree")
    return 0 if identical else 1


if __name__ == "__main__":
    sys.exit(main())
