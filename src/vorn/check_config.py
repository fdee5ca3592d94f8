"""check_config.py: `vorn check-config FILE`: the parameters a YAML configuration file yields,
the keys the loader reads past (each with the key that was likely meant) and the controller
classes the parameters build. Exit status 0 when clean, 1 when a key was ignored, 2 when the
loader refuses the file or no class can hold pseudo-orders that large.

The file is read once, by the loader's own reader (vorn._vorn_config): the keys are seen exactly
as `load_config_from_yaml` sees them (quoted keys, aliases and collection keys included), and
what each class accepts is decided without building it. `vorn run --config` and `vorn export-c`
get their controller from the same read (controller_from_file).
"""

from __future__ import annotations

import argparse
import difflib
from typing import Any, NamedTuple, Sequence, TextIO

from vorn import _vorn_config
from vorn.demo import SISO_CLASSES
from vorn.messages import explain

# The file's keys, in the order of the constructor arguments that they fill.
FILE_KEYS = ("eta", "mu", "rho", "lambda_", "eps", "L_y", "L_u", "initial_phi", "u0", "u_min", "u_max")

# Spellings that users reach for and that normalising cannot map.
ALTERNATIVES = {
    "lam": "lambda_",
    "lamda": "lambda_",
    "epsilon": "eps",
    "phi": "initial_phi",
    "phi0": "initial_phi",
    "phi_0": "initial_phi",
    "phi_init": "initial_phi",
    "initial_phi_hat": "initial_phi",
    "u_init": "u0",
    "uo": "u0",
    "u_lower": "u_min",
    "u_upper": "u_max",
    "umin": "u_min",
    "umax": "u_max",
}

# Parameters of the MIMO classes only; the file holds the parameters of a SISO controller.
MIMO_ONLY = frozenset({"dim", "m_upper", "m_lower"})



def _normal(key: str) -> str:
    return key.casefold().replace("_", "").replace("-", "")


_BY_NORMAL = {_normal(k): k for k in FILE_KEYS}


def likely_key(key: str) -> str | None:
    """The file key that `key` most likely meant (`l_u` → `L_u`, `lamda_` → `lambda_`), or None."""
    if key in ALTERNATIVES:
        return ALTERNATIVES[key]
    folded = key.casefold()
    if folded in ALTERNATIVES:
        return ALTERNATIVES[folded]
    if _normal(key) in _BY_NORMAL:
        return _BY_NORMAL[_normal(key)]
    close = difflib.get_close_matches(folded, [k.casefold() for k in FILE_KEYS], n=1, cutoff=0.6)
    return _BY_NORMAL[_normal(close[0])] if close else None


class Ignored(NamedTuple):
    """A key of the root mapping that the loader ignores; key None when it is a collection."""

    key: str | None
    line: int
    column: int

    def describe(self) -> str:
        where = f"line {self.line}, column {self.column}"
        if self.key is None:
            return f"ignored a key that is a collection at {where}"
        text = f"ignored key '{self.key}' at {where}"
        if self.key in MIMO_ONLY:
            return text + " (a parameter of the MIMO classes only; the file holds SISO parameters)"
        meant = likely_key(self.key)
        return text + (f" (did you mean '{meant}'?)" if meant else "")


# (eta, mu, rho, lambda_, eps, l_y, l_u, initial_phi, u0, u_min, u_max)
SisoArgs = tuple[float, float, float, float, float, int, int, float, float, float | None, float | None]


class Refused(Exception):
    """A configuration file that cannot give the controller asked for, in one line naming the
    file (with the English meaning of the module's message): exit status 2."""


def _refused(path: str, error: BaseException) -> Refused:
    message = str(error) or "not enough memory"
    english = explain(message)
    return Refused(f"{path}: {message}" + (f" ({english})" if english else ""))


class Report(NamedTuple):
    """One read of a configuration file: the record it yields and the keys the loader ignored."""

    path: str
    params: SisoArgs
    ignored: list[Ignored]

    def warnings(self) -> list[str]:
        """One line per ignored key."""
        return [f"{self.path}: {k.describe()}" for k in self.ignored]

    def refusal(self, form: str) -> ValueError | OverflowError | MemoryError | None:
        """What the class of `form` raises when built from the record (None: it builds),
        decided without allocating the controller's state."""
        return _vorn_config.refusal(form, self.params)

    def controller(self, form: str) -> Any:
        """The controller of `form`; Refused when its class refuses the record."""
        error = self.refusal(form)
        if error is not None:
            raise _refused(self.path, error)
        try:
            return SISO_CLASSES[form](*self.params)
        except (ValueError, OverflowError, MemoryError) as late:  # memory that ran out after the check
            raise _refused(self.path, late) from None


def check(path: str) -> Report:
    """Reads `path` once, as `load_config_from_yaml(True, path)` does: its record and the keys it
    ignored; Refused, with the loader's message, when it refuses the file."""
    try:
        params, ignored = _vorn_config.load(path)
    except ValueError as error:
        raise _refused(path, error) from None
    return Report(path, params, [Ignored(*k) for k in ignored])


def controller_from_file(form: str, path: str, warnings: TextIO) -> Any:
    """The controller of `form` that the configuration file `path` gives, the ignored keys
    reported to `warnings` first; Refused when the file or the class refuses. The one way from
    a file to a controller of `vorn run --config` and `vorn export-c`."""
    report = check(path)
    for line in report.warnings():
        print(f"vorn: warning: {line}", file=warnings)
    return report.controller(form)


def builds(report: Report) -> list[str]:
    """The SISO classes that accept the record; Refused when no form accepts it and one of them
    refuses it for its size alone (pseudo-orders too large for this machine)."""
    refusals = {form: report.refusal(form) for form in SISO_CLASSES}
    names = [SISO_CLASSES[form].__name__ for form, error in refusals.items() if error is None]
    too_large = [error for error in refusals.values() if error is not None and not isinstance(error, ValueError)]
    if not names and too_large:
        raise _refused(report.path, too_large[0])
    return names


def format_params(params: Sequence[object]) -> str:
    width = max(len(k) for k in FILE_KEYS)
    return "\n".join(f"  {key:<{width}}  {value!r}" for key, value in zip(FILE_KEYS, params))


def add_parser(commands: Any) -> None:
    """Registers `check-config` with the `vorn` command's subparsers."""
    parser = commands.add_parser(
        "check-config", help="what a YAML configuration file yields, and the keys it ignores",
        description="Loads FILE as load_config_from_yaml does, prints the parameters it yields and "
        "the controller classes they build, and reports every key the loader ignores with the key "
        "that was likely meant. Exit status: 0 clean, 1 a key was ignored, 2 the file is refused "
        "(or its pseudo-orders are too large for any class).")
    parser.add_argument("file", metavar="FILE", help="the YAML configuration file")


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    try:
        report = check(args.file)
        classes = builds(report)
    except Refused as error:
        print(f"vorn: {error}", file=err)
        return 2
    for line in report.warnings():
        print(line, file=out)
    print(f"{args.file} yields (in constructor order; absent keys take the file's defaults):", file=out)
    print(format_params(report.params), file=out)
    print(f"builds: {', '.join(classes) if classes else 'no SISO class (see the pseudo-orders L_y, L_u)'}",
          file=out)
    return 1 if report.ignored else 0
