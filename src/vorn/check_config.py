"""check_config.py: `vorn check-config FILE`: the parameters a YAML configuration file yields,
the keys the loader reads past (each with the key that was likely meant) and the controller
classes the parameters build. Exit status 0 when clean, 1 when a key was ignored, 2 when the
loader refuses the file.

The keys come from the loader's own reader (vorn._vorn_config), so they are seen exactly as
`load_config_from_yaml` sees them: quoted keys, aliases and collection keys included.
"""

from __future__ import annotations

import argparse
import difflib
from typing import NamedTuple, Sequence, TextIO

from vorn import _vorn_config
from vorn.messages import explain
from vorn._vorn_core import CFDLController, FFDLController, PFDLController, load_config_from_yaml

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

SISO_CLASSES = (CFDLController, PFDLController, FFDLController)


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


class Report(NamedTuple):
    params: SisoArgs
    ignored: list[Ignored]


def check(path: str) -> Report:
    """Loads `path` as `load_config_from_yaml(True, path)` does (its ValueError when it refuses
    the file) and lists the keys it ignored. OSError if the file vanishes in between."""
    params = load_config_from_yaml(True, path)
    with open(path, "rb") as stream:
        text = stream.read().decode("utf-8")
    return Report(params, [Ignored(*k) for k in _vorn_config.ignored_keys(text)])


def ignored_warnings(path: str) -> list[str]:
    """One line per ignored key of a file the loader accepted (for `vorn run --config`)."""
    try:
        return [f"{path}: {k.describe()}" for k in check(path).ignored]
    except (OSError, ValueError, UnicodeDecodeError):
        return []  # the loader's own refusal is reported by the caller


def warn_ignored(path: str, stream: TextIO) -> None:
    for line in ignored_warnings(path):
        print(f"vorn: warning: {line}", file=stream)


def builds(params: SisoArgs) -> list[str]:
    """The SISO classes whose form requirement the parameters meet."""
    names = []
    for cls in SISO_CLASSES:
        try:
            cls(*params)
        except ValueError:
            continue
        names.append(cls.__name__)
    return names


def format_params(params: Sequence[object]) -> str:
    width = max(len(k) for k in FILE_KEYS)
    return "\n".join(f"  {key:<{width}}  {value!r}" for key, value in zip(FILE_KEYS, params))


def add_parser(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "check-config", help="what a YAML configuration file yields, and the keys it ignores",
        description="Loads FILE as load_config_from_yaml does, prints the parameters it yields and "
        "the controller classes they build, and reports every key the loader ignores with the key "
        "that was likely meant. Exit status: 0 clean, 1 a key was ignored, 2 the file is refused.")
    parser.add_argument("file", metavar="FILE", help="the YAML configuration file")


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    try:
        report = check(args.file)
    except ValueError as error:
        english = explain(str(error))
        print(f"vorn: {args.file}: {error}" + (f" ({english})" if english else ""), file=err)
        return 2
    except (OSError, UnicodeDecodeError) as error:
        reason = error.strerror if isinstance(error, OSError) and error.strerror else str(error)
        print(f"vorn: {args.file}: cannot read the file: {reason}", file=err)
        return 2
    for key in report.ignored:
        print(f"{args.file}: {key.describe()}", file=out)
    print(f"{args.file} yields (in constructor order; absent keys take the file's defaults):", file=out)
    print(format_params(report.params), file=out)
    classes = builds(report.params)
    print(f"builds: {', '.join(classes) if classes else 'no SISO class (see the pseudo-orders L_y, L_u)'}",
          file=out)
    return 1 if report.ignored else 0
