"""export_c.py: `vorn export-c`, a controller's parameters from YAML (through vorn.cli.config)
written out as C."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from vorn.cli.config import controller_from_file
from vorn.cli.errors import UsageError
from vorn.export import check_c_name, export_c
from vorn.forms import FORMS

COMMAND = "export-c"


def add_command(commands: Any) -> None:
    """Registers `export-c` with the `vorn` command's subparsers."""
    parser = commands.add_parser(COMMAND, help="write a SISO controller from a YAML file as C",
                                 description="Builds the SISO controller of the given form from a YAML "
                                 "parameter file and writes NAME.h and NAME.c: dependency-free C99 "
                                 "that computes the same doubles as the Python controller.")
    parser.add_argument("--form", required=True, choices=FORMS, help="controller form")
    parser.add_argument("--config", required=True, metavar="FILE.yaml", help="controller parameters")
    parser.add_argument("--name", default="vorn_ctrl", help="prefix of the C names and files (default vorn_ctrl)")
    parser.add_argument("--out", default=".", metavar="DIR", help="existing directory to write into (default .)")


def run(args: argparse.Namespace) -> int:
    """Runs `vorn export-c` with parsed `args`; returns the exit status."""
    try:
        check_c_name(args.name)
    except ValueError as error:
        raise UsageError(f"--name: {error}") from None
    controller = controller_from_file(args.form, args.config, sys.stderr)
    try:
        paths = export_c(controller, args.out, args.name)
    except OSError as error:
        raise UsageError(f"cannot write into {args.out}: {error.strerror or error}") from None
    for path in paths:
        print(path)
    return 0
