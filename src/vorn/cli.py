"""cli.py: the `vorn` command: `vorn demo` (the default), `vorn run` and `vorn tune`."""

from __future__ import annotations

import argparse
import csv
import os
import sys
from typing import Any, NoReturn, Sequence

from vorn import __version__, demo
from vorn._vorn_core import load_config_from_yaml
from vorn.plants import PLANTS, check_noise, parse_disturbance
from vorn.tuner import command as tune_command

PROG = "vorn"
MAX_STEPS = 1_000_000


class UsageError(Exception):
    """A mistake in the command line or its files: reported in one line, exit status 2."""


class _Parser(argparse.ArgumentParser):
    # argparse prints the usage block and exits; report one line through UsageError instead.
    def error(self, message: str) -> NoReturn:
        raise UsageError(f"{message} (see '{self.prog} --help')")


def _steps(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid number of steps: '{text}'") from None
    if not 1 <= value <= MAX_STEPS:
        raise argparse.ArgumentTypeError(f"the number of steps must be from 1 to {MAX_STEPS}, not {value}")
    return value


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


def _disturbance(text: str) -> tuple[float, int]:
    size, at, sample = text.partition("@")
    try:
        return parse_disturbance((float(size), int(sample)))
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid disturbance '{text}': SIZE@SAMPLE, e.g. 0.2@300") from None


def _add_outputs(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--steps", type=_steps, default=demo.DEFAULT_STEPS, metavar="N",
                        help=f"samples per run (default {demo.DEFAULT_STEPS})")
    parser.add_argument("--csv", metavar="FILE", help="write the trajectories to FILE as CSV")
    parser.add_argument("--plot", metavar="FILE.png", help="draw set point, output and input to FILE.png")


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=PROG, description="Model-free adaptive controllers closing loops on built-in plants.")
    parser.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="{demo,run,tune}", parser_class=_Parser)
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
    return parser


def _controller_from_config(form: str, plant: str, path: str) -> Any:
    if PLANTS[plant].dim != 1:
        raise UsageError(f"--config holds SISO parameters; the {plant} plant needs a MIMO controller")
    try:
        params = load_config_from_yaml(True, path)
        return demo.SISO_CLASSES[form](*params)
    except ValueError as error:
        raise UsageError(f"{path}: {error}") from None


def write_csv(path: str, runs: Sequence[demo.Run]) -> None:
    """One row per run, channel and sample: controller, plant, channel, k, yd, y, u."""
    with open(path, "w", newline="", encoding="utf-8") as stream:
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


def _plot(runs: Sequence[demo.Run], path: str) -> int:
    from vorn import plot

    if not plot.have_matplotlib():
        print(f"{PROG}: {plot.INSTALL_HINT}", file=sys.stderr)
        return 1
    try:
        if len(runs) == 1:
            plot.save_run(runs[0], path)
        else:
            plot.save_grid(runs, path)
    except (OSError, ValueError) as error:
        reason = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
        raise UsageError(f"cannot write {path}: {reason}") from None
    return 0


def _run_demo(args: argparse.Namespace) -> int:
    return _report(demo.demo_runs(args.steps), args)


def _run_one(args: argparse.Namespace) -> int:
    if args.config is not None:
        controller = _controller_from_config(args.form, args.plant, args.config)
    else:
        controller = demo.make_controller(args.form, args.plant)
    return _report([demo.close_loop(controller, args.plant, args.steps, noise=args.noise, seed=args.seed,
                                    disturbance=args.disturbance)], args)


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line `argv` (default: sys.argv[1:]) and returns the exit status."""
    args_list = list(sys.argv[1:] if argv is None else argv)
    if not args_list or args_list[0].startswith("--") and args_list[0] not in ("--help", "--version"):
        args_list.insert(0, "demo")
    try:
        args = build_parser().parse_args(args_list)
        if args.command == "tune":
            return tune_command.run(args)
        return _run_one(args) if args.command == "run" else _run_demo(args)
    except UsageError as error:
        print(f"{PROG}: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # The reader of stdout went away (`vorn demo | head`): point stdout at the null
        # device so that the interpreter's final flush does not fail again.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
