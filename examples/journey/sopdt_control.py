"""sopdt_control.py: a second-order process with a dead time, built with python-control, from
its transfer function to a tuned, saved and exported loop.

    G(s) = 2 / ((5s + 1)(4s + 1)), sampled every second with a zero-order hold, behind a dead
    time of 4 samples

    python examples/journey/sopdt_control.py [OUTDIR] [--generations N]

Writes OUTDIR/sopdt.yaml (the tuning) and OUTDIR/sopdt.h, OUTDIR/sopdt.c (the controller as
C). Needs python-control and cma: pip install 'vorn[control,tune]'.
"""

from __future__ import annotations

import argparse
import os
import tempfile

import control
import numpy as np

import vorn
from vorn.plants import from_control


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir", nargs="?", default=None)
    parser.add_argument("--generations", type=int, default=30)
    args = parser.parse_args()
    outdir = args.outdir or tempfile.mkdtemp(prefix="sopdt-")
    os.makedirs(outdir, exist_ok=True)

    process = control.tf([2.0], [20.0, 9.0, 1.0])
    plant = from_control(process, dt=1.0, delay=4, name="sopdt")
    setpoint = np.repeat([1.0, 2.0, 1.5], 120)

    tuning = vorn.tune("pfdl", plant, setpoint, seed=1, max_generations=args.generations)
    pid = f", tuned PID {tuning.pid.cost:.3f}" if tuning.pid else ""
    print(f"IAE {tuning.cost:.3f} tuned, {tuning.default_cost:.3f} with the class defaults{pid}")

    saved = os.path.join(outdir, "sopdt.yaml")
    tuning.save(saved)
    controller = vorn.PFDLController(*vorn.load_config_from_yaml(True, saved))
    print(vorn.table([vorn.simulate(controller, plant, setpoint)]))
    header, source = vorn.export_c(controller, outdir, name="sopdt")
    print(f"wrote {saved}, {header} and {source}")


if __name__ == "__main__":
    main()
