"""run.py: `vorn run`: one closed loop of a form on a built-in plant or the user's own
(vorn.cli.plant_option), the controller from a configuration file (--config, through
vorn.cli.config), else the demo's tuning on a built-in plant and the class defaults on the
user's."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from vorn import demo
from vorn.cli import arguments, plant_option
from vorn.cli.config import MimoReport, Refused, configured, read_config
from vorn.cli.errors import PROG, UsageError
from vorn.cli.report import check_outputs, report
from vorn.forms import FORMS, MIMO, SISO
from vorn.loop import simulate as simulation
from vorn.loop.metrics import DIVERGED
from vorn.plants import PLANTS
from vorn.tuning.mimo_signs import labelled

COMMAND = "run"


def add_command(commands: Any) -> None:
    """Registers `run` with the `vorn` command's subparsers."""
    one = commands.add_parser(COMMAND, help="one closed loop",
                              description="Closes one loop; the controller comes from a file with "
                              "--config (a SISO YAML file, or a MIMO tuning's file from vorn tune), else "
                              "from the demo's tuning.")
    one.add_argument("--form", choices=FORMS, default=None,
                     help="controller form (required unless --config names it: a MIMO tuning's file)")
    plant_option.add_arguments(one, list(PLANTS))
    one.add_argument("--config", metavar="FILE", help="controller parameters from a YAML file, or a MIMO "
                     "tuning's file")
    one.add_argument("--noise", type=arguments.noise, default=0.0, metavar="SD",
                     help="standard deviation of Gaussian noise on the measured output")
    one.add_argument("--seed", type=arguments.seed, default=None, metavar="N",
                     help="seed of the noise (repeatable runs)")
    one.add_argument("--disturbance", type=arguments.disturbance, default=None, metavar="SIZE@SAMPLE",
                     help="a load step of SIZE added to the plant's input from SAMPLE on")
    arguments.add_outputs(one, demo.DEFAULT_STEPS)


def _controller(args: argparse.Namespace, plant: Any) -> tuple[Any, str | None]:
    """The loop's controller and where it starts (a configuration file may say)."""
    dim = PLANTS[plant].dim if isinstance(plant, str) else plant_option.dim(plant)
    name = f"the {plant} plant" if isinstance(plant, str) else f"{args.plant}, with {dim} outputs,"
    if args.config is not None:
        try:
            report = read_config(args.config)
        except Refused as error:
            if dim == 1:
                raise
            raise UsageError(f"{name} needs a MIMO controller, from a MIMO tuning's file: {error}") from None
        if dim == 1 and isinstance(report, MimoReport):
            raise UsageError(f"{args.config} holds a MIMO tuning; {name} needs a SISO controller")
        if dim > 1 and not isinstance(report, MimoReport):
            raise UsageError(f"--config holds SISO parameters; {name} needs a MIMO controller")
        if isinstance(report, MimoReport) and report.record.dim != dim:
            raise UsageError(f"{args.config} holds a MIMO controller of {report.record.dim} channels; "
                             f"{name} has {dim}")
        return configured(args.form, args.config, sys.stderr, report)
    if args.form is None:
        raise UsageError(f"the following arguments are required: --form (see '{PROG} {COMMAND} --help')")
    if isinstance(plant, str):
        return demo.make_controller(args.form, plant), "plant"
    return (SISO[args.form].single() if dim == 1 else MIMO[args.form].single(dim)), "plant"


def run(args: argparse.Namespace) -> int:
    """Runs `vorn run` with parsed `args`; returns the exit status."""
    plant: Any = args.plant if plant_option.is_builtin(args) else plant_option.user_plant(args)
    controller, start = _controller(args, plant)
    check_outputs(args)
    if isinstance(plant, str) and args.setpoint is None:
        return report([labelled(demo.close_loop(controller, plant, args.steps, noise=args.noise, seed=args.seed,
                                                disturbance=args.disturbance), controller)], args)
    target = plant_option.setpoint(args, plant, args.steps)
    try:
        loop = simulation.simulate(controller, plant, target, noise=args.noise, seed=args.seed,
                                   disturbance=args.disturbance, limit=DIVERGED, start=start)
    except (TypeError, ValueError) as error:
        if isinstance(plant, str):
            raise
        raise UsageError(f"the plant {args.plant} failed: {str(error).splitlines()[0]}") from None
    return report([labelled(loop.member(0), controller)], args)
