"""tune.py: `vorn tune`, the tuner on the command line: searches a form's parameters on a
built-in plant or the user's own (vorn.cli.plant_option), shows its progress, prints the
winner beside the class defaults and a tuned PID, and writes the configuration file that
`vorn run --config` replays. On a MIMO plant it tunes the form's MIMO class beside a
decentralised PID, and --out writes a MIMO tuning's file (vorn.tuning.mimo_file).

Ctrl-C stops the search: the best parameters found so far are printed, and written to --out
only with --save-interrupted (a complete file in either case, never half of one).
"""

from __future__ import annotations

import argparse
import sys
from typing import Any

from vorn.cli import plant_option
from vorn.cli.arguments import MAX_STEPS, count_argument
from vorn.cli.errors import PROG, UsageError
from vorn.forms import FORMS
from vorn.loop.metrics import DIVERGED_COST, OBJECTIVES
from vorn.plants import PLANTS

COMMAND = "tune"
DEFAULT_STEPS = 600
INTERRUPTED = 130


def _positive(kind: type, what: str) -> Any:
    def convert(text: str) -> Any:
        try:
            value = kind(text)
        except ValueError:
            value = None
        if value is None or not value > 0 or value != value or value == float("inf"):
            raise argparse.ArgumentTypeError(f"invalid {what} '{text}': a positive number")
        return value
    return convert


def add_command(commands: Any) -> None:
    """Registers `tune` with the `vorn` command's subparsers."""
    p = commands.add_parser(COMMAND, help="search a controller's parameters on a plant",
                            description="Searches a controller's parameters on a built-in plant, or your own, "
                            "with CMA-ES, beside a PID tuned on the same runs (one loop per channel on a MIMO "
                            "plant), and writes them as a configuration file that `vorn run --config` replays: "
                            "YAML for a SISO plant, a MIMO tuning's file for a MIMO one.")
    p.add_argument("--form", required=True, choices=FORMS, help="controller form")
    plant_option.add_arguments(p, list(PLANTS))
    p.add_argument("--budget", type=_positive(float, "budget"), default=30.0, metavar="SECONDS",
                   help="wall-clock seconds for the whole search, shared with the PID (default 30)")
    p.add_argument("--scenarios", type=count_argument("number of scenarios"), default=None, metavar="N",
                   help="runs per candidate: the nominal plant, then noise and ±10%% coefficient "
                   f"spread (default 1, or 8 with --noise; N times --steps at most {MAX_STEPS})")
    p.add_argument("--noise", type=float, default=0.0, metavar="SD",
                   help="standard deviation of Gaussian noise on the measured output")
    p.add_argument("--seed", type=int, default=0, metavar="N", help="seed of the search and the noise")
    p.add_argument("--steps", type=count_argument("number of steps"), default=DEFAULT_STEPS, metavar="N",
                   help=f"samples per run, along the square wave (default {DEFAULT_STEPS})")
    p.add_argument("--objective", choices=OBJECTIVES, default="iae", help="tracking objective (default iae)")
    p.add_argument("--worst", action="store_true", help="cost the worst scenario instead of the mean")
    p.add_argument("--variation", type=float, default=0.0, metavar="W",
                   help="add W times the input's total variation to the objective (a calmer loop)")
    p.add_argument("--max-overshoot", type=float, default=None, metavar="PCT",
                   help="penalise an overshoot beyond PCT percent of a set-point step")
    p.add_argument("--no-identify", action="store_true",
                   help="skip the bump test that estimates the dead time and the gain's sign")
    p.add_argument("--identify-from", metavar="FILE.csv", default=None,
                   help="estimate the dead time and the gain's sign from samples logged on the plant "
                   "(columns u and y, one row per sample, as vorn run --csv writes them) instead of a bump test")
    p.add_argument("--l-u", type=int, default=None, metavar="N", help="fix the input pseudo-order")
    p.add_argument("--l-y", type=int, default=None, metavar="N", help="fix the output pseudo-order")
    p.add_argument("--u-min", type=float, default=None, metavar="U", help="lower input limit")
    p.add_argument("--u-max", type=float, default=None, metavar="U", help="upper input limit")
    p.add_argument("--workers", type=_positive(int, "number of workers"), default=None, metavar="N",
                   help="spread each generation over N processes")
    p.add_argument("--signs", type=_signs, default=None, metavar="S1,S2,...",
                   help="MIMO: each channel's input sign, +1 or -1 (default: found by a bump test per channel)")
    p.add_argument("--no-pid", action="store_true", help="skip the PID baseline")
    p.add_argument("--out", metavar="FILE", help="write the winner's configuration file (YAML for a SISO "
                   "plant, a MIMO tuning's file for a MIMO one)")
    p.add_argument("--save-interrupted", action="store_true",
                   help="on Ctrl-C, still write --out with the best parameters so far")
    p.add_argument("--plot", metavar="FILE.png", help="draw the winner against the PID and the defaults")
    p.add_argument("--stress", action="store_true",
                   help="then run the winner and the PID on perturbed plants (gain, dead time, noise)")


def _signs(text: str) -> tuple[float, ...]:
    try:
        values = tuple(float(part) for part in text.split(","))
    except ValueError:
        values = ()
    if not values or any(v not in (1.0, -1.0) for v in values):
        raise argparse.ArgumentTypeError(f"invalid signs '{text}': +1 or -1 per channel, e.g. 1,-1")
    return values


def _cost(value: float) -> str:
    return "diverged" if value >= DIVERGED_COST else f"{value:.6g}"


def _describe(params: dict[str, Any]) -> str:
    return ", ".join(f"{k}={v!r}" for k, v in params.items())


def _plant(args: argparse.Namespace) -> tuple[Any, int]:
    """The built-in plant's name, or the user's plant, and its number of channels."""
    if plant_option.is_builtin(args):
        return args.plant, PLANTS[args.plant].dim
    plant = plant_option.user_plant(args)
    return plant, plant_option.dim(plant)


def logged_samples(path: str) -> Any:
    """The u and y columns of a CSV file as vorn.tuning.Logged samples; UsageError naming
    the file when it cannot be read or holds no single loop's samples."""
    import csv

    from vorn.tuning.identify import Logged

    try:
        with open(path, newline="", encoding="utf-8") as stream:
            rows = list(csv.DictReader(stream))
    except (OSError, UnicodeDecodeError, csv.Error) as error:
        raise UsageError(f"cannot read {path}: {getattr(error, 'strerror', None) or error}") from None
    if not rows or not {"u", "y"} <= set(rows[0]):
        raise UsageError(f"{path}: --identify-from needs a CSV file with a header naming columns u and y")
    for key in ("member", "channel", "controller"):
        if len({row.get(key) for row in rows}) > 1:
            raise UsageError(f"{path}: the file holds more than one {key}; give one loop's samples")
    try:
        return Logged([float(row["u"]) for row in rows], [float(row["y"]) for row in rows])
    except (TypeError, ValueError) as error:
        raise UsageError(f"{path}: {error}") from None


def run(args: argparse.Namespace) -> int:
    """Runs `vorn tune` with parsed `args`; returns the exit status."""
    from vorn.files import check_writable
    from vorn.tuning.objective import Objective
    from vorn.tuning.progress import ProgressReport
    from vorn.tuning.tune import default_scenarios, tune

    # A candidate's runs take no more samples than one `vorn run` may: a generation holds the
    # output and input of every member (candidates × scenarios) at every step.
    if args.scenarios is None:
        args.scenarios = default_scenarios(args.noise if args.noise > 0.0 else 0.0)
    if args.scenarios * args.steps > MAX_STEPS:
        raise UsageError(f"--scenarios {args.scenarios} × --steps {args.steps} is {args.scenarios * args.steps} "
                         f"samples per candidate; at most {MAX_STEPS}")
    plant, dim = _plant(args)
    if dim > 1 and args.stress:
        raise UsageError("--stress covers SISO tunings; run the MIMO controller on your perturbed plants instead")
    if dim == 1 and args.signs is not None:
        raise UsageError("--signs gives the input signs of a MIMO plant's channels; a SISO plant's sign is "
                         "found by the bump test")
    # A built-in plant's own square wave is the tuner's number of steps; any other, an array.
    target: Any = (args.steps if isinstance(plant, str) and args.setpoint is None
                   else plant_option.setpoint(args, plant, args.steps))
    if args.out is not None:  # refused now, not after the whole search
        if not args.out:
            raise UsageError("--out needs a file name")
        try:
            check_writable(args.out)
        except OSError as error:
            raise UsageError(f"cannot write {args.out}: {error.strerror or error}") from None
    executor = None
    if args.workers and args.workers > 1:
        from concurrent.futures import ProcessPoolExecutor

        executor = ProcessPoolExecutor(args.workers)
    how = "worst" if args.worst else "mean"
    objective: Any = (args.objective, how)
    if args.variation or args.max_overshoot is not None:
        try:
            objective = Objective(**{args.objective: 1.0, **({"iae": 0.0} if args.objective != "iae" else {})},
                                  variation=args.variation, max_overshoot=args.max_overshoot, aggregate=how)
        except ValueError as error:
            raise UsageError(str(error)) from None
    identify: Any = not args.no_identify
    if args.identify_from is not None:
        identify = logged_samples(args.identify_from)
    report = ProgressReport()
    try:
        result = tune(args.form, plant, target, budget=args.budget, seed=args.seed,
                      scenarios=args.scenarios, noise=args.noise, objective=objective,
                      identify=identify,
                      l_u=args.l_u, l_y=args.l_y, u_min=args.u_min, u_max=args.u_max,
                      executor=executor, pid=not args.no_pid, progress=report, on_interrupt="return",
                      signs=args.signs)
    except ImportError as error:
        report.close()
        print(f"{PROG}: {error}", file=sys.stderr)
        return 1
    except (ValueError, TypeError) as error:
        report.close()
        raise UsageError(str(error)) from None
    finally:
        if executor is not None:
            executor.shutdown(cancel_futures=True)
    report.close()
    name = result.objective[0].upper()
    if result.identified is not None:
        print(result.identified.describe())
    print(f"{args.form} on {args.plant}: {_describe(result.params)}")
    if dim > 1:
        print(f"channel signs: {', '.join(f'{s:+g}' for s in getattr(result, 'signs', ()))}; "
              f"costs are summed over the {dim} channels")
    print(f"{name} {_cost(result.cost)} tuned, {_cost(result.default_cost)} with the class defaults"
          + (f", {_cost(result.pid.cost)} with the tuned PID ({_describe(result.pid.params)})" if result.pid else ""))
    if result.held_out_cost is not None:
        print(f"{name} {_cost(result.held_out_cost)} on fresh scenarios it was not tuned on")
    print(f"{result.generations} generations, {result.evaluations} candidates in {result.elapsed:.1f} s")
    for line in result.warnings:
        print(f"{PROG}: warning: {line}", file=sys.stderr)
    if result.interrupted:
        print(f"{PROG}: interrupted; the best parameters so far are shown above", file=sys.stderr)
    elif args.stress:
        print(result.stress())
    if args.out and (not result.interrupted or args.save_interrupted):
        try:
            result.save(args.out)
        except OSError as error:
            raise UsageError(f"cannot write {args.out}: {error.strerror or error}") from None
        replay = "".join(f" --plant-arg {key}={value!r}" for key, value in args.plant_arg)
        replay += f" --setpoint {','.join(f'{v:g}' for v in args.setpoint)}" if args.setpoint else ""
        print(f"wrote {args.out}; replay it with: vorn run --form {args.form} --plant {args.plant}{replay} "
              f"--steps {args.steps} --config {args.out}")
    if args.plot:
        try:
            result.plot(args.plot)
        except ImportError as error:
            print(f"{PROG}: {error}", file=sys.stderr)
            return 1
        except (OSError, ValueError) as error:
            reason = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
            raise UsageError(f"cannot write {args.plot}: {reason}") from None
    return INTERRUPTED if result.interrupted else 0
