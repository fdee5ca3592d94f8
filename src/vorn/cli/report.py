"""report.py: what `vorn demo` and `vorn run` show of their runs: the table, the runs that did
not track, and the CSV and figure files, refused in one line when they cannot be written."""

from __future__ import annotations

import argparse
import sys
from typing import Sequence

from vorn.cli.errors import PROG, UsageError
from vorn.files import check_writable
from vorn.loop.csv_file import write_csv
from vorn.loop.run import Run, table


def check_outputs(args: argparse.Namespace) -> None:
    """Refuses, before any loop runs, an empty output name and a CSV file that cannot be written."""
    for option, path in (("--csv", args.csv), ("--plot", args.plot)):
        if path == "":
            raise UsageError(f"{option} needs a file name")
    if args.csv is not None:
        try:
            check_writable(args.csv)
        except OSError as error:
            raise UsageError(f"cannot write {args.csv}: {error.strerror or error}") from None


def check_plot_support(args: argparse.Namespace) -> None:
    """Before any run: a missing matplotlib is a setup problem, not a failure to track."""
    from vorn.loop import figure

    if getattr(args, "plot", None) and not figure.have_matplotlib():
        raise UsageError(figure.INSTALL_HINT)


def report(runs: Sequence[Run], args: argparse.Namespace) -> int:
    """Prints the table of one-member runs and writes the files asked for; exit status 1 when
    a run did not track its set point."""
    print(table(runs))
    failed = [f"{r.controller} on {r.plant}" + (f" (diverged after {r.steps} samples)" if r.diverged[0] else "")
              for r in runs if not r.measures(0).tracks]
    if failed:
        print(f"{PROG}: did not track the set point: {', '.join(failed)}", file=sys.stderr)
    elif len(runs) > 1:
        print(f"all {len(runs)} runs track their set points")
    status = 1 if failed else 0
    if args.csv:
        try:
            write_csv(args.csv, runs)
        except OSError as error:
            raise UsageError(f"cannot write {args.csv}: {error.strerror or error}") from None
    if args.plot:
        _plot(runs, args.plot)
    return status


def _plot(runs: Sequence[Run], path: str) -> None:
    from vorn.loop import figure

    try:
        if len(runs) == 1:
            figure.save_run(runs[0], path)
        else:
            figure.save_grid(runs, path)
    except (OSError, ValueError) as error:
        reason = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
        raise UsageError(f"cannot write {path}: {reason}") from None
