"""entry.py: the `vorn` command: its parser, the commands it dispatches to (`vorn demo`, the
default, `vorn run`, `vorn tune`, `vorn export-c` and `vorn check-config`, one module each),
and `main`, which turns every error into one line and an exit status."""

from __future__ import annotations

import argparse
import os
import sys
from typing import Any, Callable, NoReturn, Sequence

from vorn._version import __version__
from vorn.cli import check_config, demo, export_c, run, tune
from vorn.cli.errors import PROG, UsageError
from vorn.cli.report import check_plot_support

# Each command's module: COMMAND, add_command(subparsers) and run(args) -> exit status.
COMMANDS = (demo, run, tune, export_c, check_config)


def _flush_stdout() -> None:
    # Output redirected to a file is buffered: a failed write surfaces here at the latest.
    if sys.stdout is not None:
        sys.stdout.flush()


def _settle_stdout() -> None:
    # Once an error has been reported, output that cannot be written is dropped quietly.
    try:
        _flush_stdout()
    except OSError:
        _discard_stdout()


def _discard_stdout() -> None:
    # Points stdout at the null device so that the interpreter's final flush of what is
    # still buffered does not fail again.
    if sys.stdout is not None:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())


class _Parser(argparse.ArgumentParser):
    # argparse prints the usage block and exits; report one line through UsageError instead.
    def error(self, message: str) -> NoReturn:
        raise UsageError(f"{message} (see '{self.prog} --help')")

    # argparse drops a failed write of --help or --version; let it reach main's report.
    def _print_message(self, message: str, file: Any = None) -> None:
        if message:
            (file or sys.stderr).write(message)


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=PROG, description="Model-free adaptive controllers closing loops on built-in plants.")
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="{demo,run,tune,export-c,check-config}",
                                     parser_class=_Parser)
    for command in COMMANDS:
        command.add_command(commands)
    return parser


def _command(name: str) -> Callable[[argparse.Namespace], int]:
    runs: dict[str, Callable[[argparse.Namespace], int]] = {command.COMMAND: command.run for command in COMMANDS}
    return runs[name]


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line `argv` (default: sys.argv[1:]) and returns the exit status."""
    args_list = list(sys.argv[1:] if argv is None else argv)
    if not args_list or args_list[0].startswith("--") and args_list[0] not in ("--help", "--version"):
        args_list.insert(0, "demo")
    try:
        try:
            args = build_parser().parse_args(args_list)
            check_plot_support(args)
            status = _command(args.command or "demo")(args)
        except SystemExit:  # --help and --version, once their text is out
            _flush_stdout()
            raise
        _flush_stdout()
        return status
    except UsageError as error:  # Refused, a configuration file's refusal, is one too
        print(f"{PROG}: {error}", file=sys.stderr)
        _settle_stdout()
        return 2
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=sys.stderr)
        _settle_stdout()
        return 130
    except BrokenPipeError:
        # The reader of stdout went away (`vorn demo | head`): nothing more to say.
        _discard_stdout()
        return 1
    except OSError as error:
        # Files are reported where they are written; what is left is standard output
        # failing (`vorn demo > /dev/full`).
        print(f"{PROG}: cannot write to standard output: {error.strerror or error}", file=sys.stderr)
        _discard_stdout()
        return 2
