"""cli.py: the `vorn` command: `vorn demo` (the default), `vorn run`, `vorn tune`,
`vorn export-c` and `vorn check-config`."""

from __future__ import annotations

import argparse
import csv
import os
import sys
from typing import Any, Callable, NoReturn, Sequence

from vorn import __version__, check_config, demo, export_c_command
from vorn.files import check_writable, replacing
from vorn.plants import PLANTS, check_noise, parse_disturbance
from vorn.tuner import command as tune_command

PROG = "vorn"
# The most samples a command's runs take: `vorn run`'s steps, and `vorn tune`'s steps times
# scenarios for each candidate.
MAX_STEPS = 1_000_000


class UsageError(Exception):
    """A mistake in the command line or its files: reported in one line, exit status 2."""


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


def count_argument(what: str, at_most: int = MAX_STEPS) -> Callable[[str], int]:
    """The argparse type of a count from 1 to `at_most` (`what` names it: "number of steps").
    Every count that sizes a run's arrays shares the bound MAX_STEPS."""
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"invalid {what}: '{text}'") from None
        if not 1 <= value <= at_most:
            raise argparse.ArgumentTypeError(f"invalid {what} '{value}': must be from 1 to {at_most}")
        return value
    return convert


def _noise(text: str) -> float:
    try:
        return check_noise(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid noise '{text}': a standard deviation of at least 0") from None


def _seed(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"invalid seed '{text}': an integer of at least 0")
    return value


def _disturbance(text: str) -> tuple[float, int] | None:
    size, at, sample = text.partition("@")
    try:
        return parse_disturbance((float(size), int(sample)))
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid disturbance '{text}': SIZE@SAMPLE, e.g. 0.2@300") from None


def _add_outputs(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--steps", type=count_argument("number of steps"), default=demo.DEFAULT_STEPS, metavar="N",
                        help=f"samples per run (default {demo.DEFAULT_STEPS})")
    parser.add_argument("--csv", metavar="FILE", help="write the trajectories to FILE as CSV")
    parser.add_argument("--plot", metavar="FILE.png", help="draw set point, output and input to FILE.png")


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=PROG, description="Model-free adaptive controllers closing loops on built-in plants.")
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="{demo,run,tune,export-c,check-config}",
                                     parser_class=_Parser)
    shown = commands.add_parser("demo", help="every controller on the built-in plants (the default)",
                                description="Closes the loop with each of the six controllers on "
                                "the built-in plants and prints one table row per run.")
    _add_outputs(shown)
    one = commands.add_parser("run", help="one closed loop",
                              description="Closes one loop; the SISO controller comes from a YAML "
                              "file with --config, else from the demo's tuning.")
    one.add_argument("--form", required=True, choices=demo.FORMS, help="controller form")
    one.add_argument("--plant", required=True, choices=list(PLANTS), help="built-in plant")
    one.add_argument("--config", metavar="FILE.yaml", help="controller parameters from a YAML file")
    one.add_argument("--noise", type=_noise, default=0.0, metavar="SD",
                     help="standard deviation of Gaussian noise on the measured output")
    one.add_argument("--seed", type=_seed, default=None, metavar="N", help="seed of the noise (repeatable runs)")
    one.add_argument("--disturbance", type=_disturbance, default=None, metavar="SIZE@SAMPLE",
                     help="a load step of SIZE added to the plant's input from SAMPLE on")
    _add_outputs(one)
    tune_command.register(commands)
    export_c_command.add_command(commands)
    check_config.add_parser(commands)
    return parser


def _controller_from_config(form: str, plant: str, path: str) -> Any:
    if PLANTS[plant].dim != 1:
        raise UsageError(f"--config holds SISO parameters; the {plant} plant needs a MIMO controller")
    return check_config.controller_from_file(form, path, sys.stderr)


def write_csv(path: str, runs: Sequence[demo.Run]) -> None:
    """One row per run, channel and sample: controller, plant, channel, k, yd, y, u."""
    with replacing(path, newline="") as stream:
        writer = csv.writer(stream)
        writer.writerow(("controller", "plant", "channel", "k", "yd", "y", "u"))
        for run in runs:
            for c in range(len(run.y)):
                for k in range(run.steps):
                    writer.writerow((run.controller, run.plant, c + 1, k,
                                     repr(run.yd[c][k]), repr(run.y[c][k]), repr(run.u[c][k])))


def _report(runs: Sequence[demo.Run], args: argparse.Namespace) -> int:
    measures = [demo.measure(run) for run in runs]
    print(demo.format_table([demo.table_row(r, m) for r, m in zip(runs, measures)]))
    failed = [f"{r.controller} on {r.plant}" + (f" (diverged after {r.steps} samples)" if r.diverged else "")
              for r, m in zip(runs, measures) if not m.tracks]
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
        status = max(status, _plot(runs, args.plot))
    return status


def _check_plot_support(args: argparse.Namespace) -> None:
    # Before any run: a missing matplotlib is a setup problem, not a failure to track.
    from vorn import plot

    if getattr(args, "plot", None) and not plot.have_matplotlib():
        raise UsageError(plot.INSTALL_HINT)


def _plot(runs: Sequence[demo.Run], path: str) -> int:
    from vorn import plot

    try:
        if len(runs) == 1:
            plot.save_run(runs[0], path)
        else:
            plot.save_grid(runs, path)
    except (OSError, ValueError) as error:
        reason = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
        raise UsageError(f"cannot write {path}: {reason}") from None
    return 0


def _check_outputs(args: argparse.Namespace) -> None:
    """Refuses, before any loop runs, an empty output name and a CSV file that cannot be written."""
    for option, path in (("--csv", args.csv), ("--plot", args.plot)):
        if path == "":
            raise UsageError(f"{option} needs a file name")
    if args.csv is not None:
        try:
            check_writable(args.csv)
        except OSError as error:
            raise UsageError(f"cannot write {args.csv}: {error.strerror or error}") from None


def _run_demo(args: argparse.Namespace) -> int:
    _check_outputs(args)
    return _report(demo.demo_runs(args.steps), args)


def _run_one(args: argparse.Namespace) -> int:
    if args.config is not None:
        controller = _controller_from_config(args.form, args.plant, args.config)
    else:
        controller = demo.make_controller(args.form, args.plant)
    _check_outputs(args)
    return _report([demo.close_loop(controller, args.plant, args.steps, noise=args.noise, seed=args.seed,
                                    disturbance=args.disturbance)], args)


def _command(name: str) -> Callable[[argparse.Namespace], int]:
    return {
        "demo": _run_demo,
        "run": _run_one,
        "tune": tune_command.run,
        export_c_command.COMMAND: export_c_command.run,
        "check-config": lambda args: check_config.run(args, sys.stdout, sys.stderr),
    }[name]


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line `argv` (default: sys.argv[1:]) and returns the exit status."""
    args_list = list(sys.argv[1:] if argv is None else argv)
    if not args_list or args_list[0].startswith("--") and args_list[0] not in ("--help", "--version"):
        args_list.insert(0, "demo")
    try:
        try:
            args = build_parser().parse_args(args_list)
            _check_plot_support(args)
            status = _command(args.command or "demo")(args)
        except SystemExit:  # --help and --version, once their text is out
            _flush_stdout()
            raise
        _flush_stdout()
        return status
    except (UsageError, check_config.Refused) as error:
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
