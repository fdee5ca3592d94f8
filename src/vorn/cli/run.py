"""run.py: `vorn run`: one closed loop of a form on a built-in plant, the controller from a
configuration file (--config, through vorn.cli.config) or the demo's tuning."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from vorn import demo
from vorn.cli import arguments
from vorn.cli.config import controller_from_file
from vorn.cli.errors import UsageError
from vorn.cli.report import check_outputs, report
from vorn.forms import FORMS
from vorn.plants import PLANTS

COMMAND = "run"


def add_command(commands: Any) -> None:
    """Registers `run` with the `vorn` command's subparsers."""
    one = commands.add_parser(COMMAND, help="one closed loop",
                              description="Closes one loop; the SISO controller comes from a YAML "
                              "file with --config, else from the demo's tuning.")
    one.add_argument("--form", required=True, choices=FORMS, help="controller form")
    one.add_argument("--plant", required=True, choices=list(PLANTS), help="built-in plant")
    one.add_argument("--config", metavar="FILE.yaml", help="controller parameters from a YAML file")
    one.add_argument("--noise", type=arguments.noise, default=0.0, metavar="SD",
                     help="standard deviation of Gaussian noise on the measured output")
    one.add_argument("--seed", type=arguments.seed, default=None, metavar="N",
                     help="seed of the noise (repeatable runs)")
    one.add_argument("--disturbance", type=arguments.disturbance, default=None, metavar="SIZE@SAMPLE",
                     help="a load step of SIZE added to the plant's input from SAMPLE on")
    arguments.add_outputs(one, demo.DEFAULT_STEPS)


def _controller(args: argparse.Namespace) -> Any:
    if args.config is None:
        return demo.make_controller(args.form, args.plant)
    if PLANTS[args.plant].dim != 1:
        raise UsageError(f"--config holds SISO parameters; the {args.plant} plant needs a MIMO controller")
    return controller_from_file(args.form, args.config, sys.stderr)


def run(args: argparse.Namespace) -> int:
    """Runs `vorn run` with parsed `args`; returns the exit status."""
    controller = _controller(args)
    check_outputs(args)
    return report([demo.close_loop(controller, args.plant, args.steps, noise=args.noise, seed=args.seed,
                                   disturbance=args.disturbance)], args)
