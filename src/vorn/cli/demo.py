"""demo.py: `vorn demo` (the default command): every controller on the built-in plants, one
table row per run."""

from __future__ import annotations

import argparse
from typing import Any

from vorn import demo
from vorn.cli.arguments import add_outputs
from vorn.cli.report import check_outputs, report

COMMAND = "demo"


def add_command(commands: Any) -> None:
    """Registers `demo` with the `vorn` command's subparsers."""
    parser = commands.add_parser(COMMAND, help="every controller on the built-in plants (the default)",
                                 description="Closes the loop with each of the six controllers on "
                                 "the built-in plants and prints one table row per run.")
    add_outputs(parser, demo.DEFAULT_STEPS)


def run(args: argparse.Namespace) -> int:
    """Runs `vorn demo` with parsed `args`; returns the exit status."""
    check_outputs(args)
    return report(demo.demo_runs(args.steps), args)
