"""check_config.py: `vorn check-config FILE`: the parameters a YAML configuration file yields,
the keys the loader reads past (each with the key that was likely meant), the companion keys
of a saved tuning that `vorn run --config` and `vorn export-c` apply beside them (one line
each: the full form's step-factor vector and the operating point) and the controller classes
the parameters build. Exit status 0 when clean, 1 when a key was ignored (or the file's
step-factor vector does not fit its pseudo-orders), 2 when the loader refuses the file or no
class can hold pseudo-orders that large. The file is read once, through vorn.cli.config, as
`vorn run --config` and `vorn export-c` read it; a MIMO tuning's file (vorn.tuning.mimo_file)
is shown as its own reader reads it: its parameters, channel signs, operating point and the
class it builds (exit status 0, or 2 when the reader or the class refuses it).
"""

from __future__ import annotations

import argparse
from typing import Any, Sequence, TextIO

from vorn.cli.config import FILE_KEYS, MimoReport, Refused, Report, read_config, refused
from vorn.cli.errors import PROG
from vorn.forms import SISO
from vorn.tuning import save

COMMAND = "check-config"


def builds(report: Report) -> list[str]:
    """The SISO classes that accept the record (the full form's only when a step-factor vector
    in the file has one entry per estimate component); Refused when no form accepts it and one
    of them refuses it for its size alone (pseudo-orders too large for this machine)."""
    refusals = {form: report.refusal(form) for form in SISO}
    if refusals["ffdl"] is None and vector_mismatch(report):
        refusals["ffdl"] = ValueError(vector_mismatch(report))
    names = [SISO[form].single.__name__ for form, error in refusals.items() if error is None]
    too_large = [error for error in refusals.values() if error is not None and not isinstance(error, ValueError)]
    if not names and too_large:
        raise refused(report.path, too_large[0])
    return names


def format_params(params: Sequence[object]) -> str:
    width = max(len(k) for k in FILE_KEYS)
    return "\n".join(f"  {key:<{width}}  {value!r}" for key, value in zip(FILE_KEYS, params))


def vector_mismatch(report: Report) -> str | None:
    """Why the file's step-factor vector cannot go with its pseudo-orders, or None."""
    width = report.params[5] + report.params[6]
    if report.rho_vector is None or len(report.rho_vector) == width:
        return None
    return (f"the rho_vector key holds {len(report.rho_vector)} step factors; L_y + L_u = {width} "
            f"needs one per estimate component")


def format_companions(report: Report) -> str:
    """One line per companion key: the value in force, whether the file gives it or not."""
    vector = "none (the scalar rho)" if report.rho_vector is None else \
        "[" + ", ".join(repr(v) for v in report.rho_vector) + "]  (full form only)"
    start = (f"{save.AT_PLANT} (the loop starts at the plant's initial output)" if report.start == save.AT_PLANT
             else f"{save.AT_ZERO} (the loop starts at zero)")
    keys = ((save.RHO_VECTOR_KEY, vector), (save.START_KEY, start))
    width = max(len(key) for key, _ in keys)
    return "\n".join(f"  {key:<{width}}  {value}" for key, value in keys)


def show_mimo(report: MimoReport, out: TextIO) -> None:
    """What a MIMO tuning's file holds, in the order its reader reads it; Refused when its
    class refuses the parameters."""
    record = report.record
    controller = report.controller()
    print(f"{report.path} holds a MIMO {record.form} tuning of {record.dim} channels (in constructor order):",
          file=out)
    rows = [*record.params.items(), ("signs", list(record.signs)),
            (save.START_KEY, save.AT_PLANT if record.operating_point == save.AT_PLANT else save.AT_ZERO)]
    rows += [(f"pid_{key}", gains) for key, gains in (record.pid or {}).items()]
    width = max(len(key) for key, _ in rows)
    for key, value in rows:
        print(f"  {key:<{width}}  {value if isinstance(value, str) else repr(value)}", file=out)
    print(f"builds: {type(controller).__name__}", file=out)


def add_command(commands: Any) -> None:
    """Registers `check-config` with the `vorn` command's subparsers."""
    parser = commands.add_parser(
        COMMAND, help="what a YAML configuration file yields, and the keys it ignores",
        description="Loads FILE as load_config_from_yaml does, prints the parameters it yields and "
        "the controller classes they build, and reports every key the loader ignores with the key "
        "that was likely meant, and the companion keys of a saved tuning (rho_vector, operating_point). "
        "Exit status: 0 clean, 1 a key was ignored (or rho_vector does not fit L_y + L_u), 2 the file is refused "
        "(or its pseudo-orders are too large for any class).")
    parser.add_argument("file", metavar="FILE", help="the YAML configuration file")


def run(args: argparse.Namespace, out: TextIO | None = None, err: TextIO | None = None) -> int:
    """Runs `vorn check-config` with parsed `args`; returns the exit status."""
    import sys

    out = sys.stdout if out is None else out
    err = sys.stderr if err is None else err
    try:
        report = read_config(args.file)
        if isinstance(report, MimoReport):
            show_mimo(report, out)
            return 0
        classes = builds(report)
    except Refused as error:
        print(f"{PROG}: {error}", file=err)
        return 2
    for line in report.warnings():
        print(line, file=out)
    print(f"{args.file} yields (in constructor order; absent keys take the file's defaults):", file=out)
    print(format_params(report.params), file=out)
    print("and beside them (companion keys, which vorn run --config and vorn export-c apply):", file=out)
    print(format_companions(report), file=out)
    mismatch = vector_mismatch(report)
    if mismatch:
        print(f"FFDLController refuses it: {mismatch}", file=out)
    print(f"builds: {', '.join(classes) if classes else 'no SISO class (see the pseudo-orders L_y, L_u)'}",
          file=out)
    return 1 if report.ignored or mismatch else 0
