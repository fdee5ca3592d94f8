"""export_c.py: `vorn export-c`, a controller's parameters from a YAML file, or a MIMO
tuning's file (through vorn.cli.config), written out as C. A MIMO tuning whose channels have
negative input signs is exported as its controller, with a note naming the signs, which the
code around NAME_update applies."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from vorn.cli.config import MimoReport, configured, read_config
from vorn.cli.errors import PROG, UsageError
from vorn.export import check_c_name, export_c
from vorn.forms import FORMS

COMMAND = "export-c"


def add_command(commands: Any) -> None:
    """Registers `export-c` with the `vorn` command's subparsers."""
    parser = commands.add_parser(COMMAND, help="write a controller from a configuration file as C",
                                 description="Builds the SISO controller of the given form from a YAML "
                                 "parameter file, or the MIMO controller of a MIMO tuning's file, and writes "
                                 "NAME.h and NAME.c: dependency-free C99 that computes the same doubles as "
                                 "the Python controller.")
    parser.add_argument("--form", choices=FORMS, default=None,
                        help="controller form (required unless the file is a MIMO tuning's, which names it)")
    parser.add_argument("--config", required=True, metavar="FILE", help="controller parameters")
    parser.add_argument("--name", default="vorn_ctrl", help="prefix of the C names and files (default vorn_ctrl)")
    parser.add_argument("--out", default=".", metavar="DIR", help="existing directory to write into (default .)")


def run(args: argparse.Namespace) -> int:
    """Runs `vorn export-c` with parsed `args`; returns the exit status."""
    try:
        check_c_name(args.name)
    except ValueError as error:
        raise UsageError(f"--name: {error}") from None
    report = read_config(args.config)
    if isinstance(report, MimoReport):
        controller = report.controller(args.form)
        signs = report.record.signs
        if min(signs) < 0.0:  # the C controller computes the controller's own inputs
            print(f"{PROG}: note: {args.config} gives the channels' input signs "
                  f"[{', '.join(f'{s:+g}' for s in signs)}]: apply u[c] * sign[c] to the plant after "
                  f"{args.name}_update", file=sys.stderr)
    elif args.form is None:
        raise UsageError(f"the following arguments are required: --form (see '{PROG} {COMMAND} --help')")
    else:
        controller = configured(args.form, args.config, sys.stderr, report)[0]
    try:
        paths = export_c(controller, args.out, args.name)
    except OSError as error:
        raise UsageError(f"cannot write into {args.out}: {error.strerror or error}") from None
    for path in paths:
        print(path)
    return 0
