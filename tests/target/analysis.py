"""analysis.py: cppcheck with every check and its MISRA C:2012 addon over the exported files of
every form, SISO and MIMO, the findings counted per check and split by where they stand: the
step arithmetic that NAME.c carries as it is (the core's step.h or mimo_step.h) or the code
the generator writes around it.

    python -m tests.target.analysis   (from the project root, in the project's environment)
"""

from __future__ import annotations

import math
import re
import subprocess
import sys
import tempfile
from collections import Counter
from pathlib import Path
from typing import Any

import vorn

# The exports analysed: every form, one with a NaN and differing entries (so the bit-pattern
# helper and the initial tables are written too) and one with a step-factor vector.
EXPORTS: dict[str, Any] = {
    "cfdl": lambda: vorn.CFDLController(u_min=-2.0, u_max=2.0),
    "cfdl-nan": lambda: vorn.CFDLController(u_min=math.nan),
    "pfdl": lambda: vorn.PFDLController(l_u=3, u_min=-2.0, u_max=2.0),
    "ffdl": lambda: vorn.FFDLController(l_y=2, l_u=2, u_min=-2.0, u_max=2.0),
    # MIMO: the compact form with its LU (dim 4) and with the closed forms, the others with
    # several layers; one advanced through a NaN, so that the bit-pattern helper is written.
    "mimo-cfdl": lambda: vorn.MimoCfdlController(4),
    "mimo-cfdl-small": lambda: vorn.MimoCfdlController(3),
    "mimo-pfdl-nan": lambda: vorn.MimoPfdlController(2, l_u=3),
    "mimo-ffdl": lambda: vorn.MimoFfdlController(2, l_y=2, l_u=2),
}
# Where the step arithmetic ends inside ctl.c, by the include guard's closing line.
FORMULA_ENDS = {"#endif /* VORN_FORMULAS_STEP_H */": "step.h", "#endif /* VORN_FORMULAS_MIMO_STEP_H */": "mimo_step.h"}
FINDING = re.compile(r"^(?P<file>[^:]*):(?P<line>\d+):(?P<id>[^:]+):")


def _exports(root: Path) -> list[Path]:
    directories = []
    for name, make in EXPORTS.items():
        directory = root / name
        directory.mkdir()
        ctl = make()
        if name == "ffdl":
            ctl.set_rho_vector([0.5, 0.25, 0.125, 0.0625])
        if name == "cfdl-nan":
            ctl.update(1.0, 2.0)
        if name.startswith("mimo"):
            nan = math.nan if name.endswith("nan") else 0.5
            ctl.update([nan] + [0.25] * (ctl.dim - 1), [1.0] * ctl.dim)
            ctl.update([0.5] * ctl.dim, [1.0] * ctl.dim)
        vorn.export_c(ctl, directory, "ctl")
        directories.append(directory)
    return directories


def _formulas_end(source: Path) -> tuple[int, str]:
    """The last line of the step arithmetic inside ctl.c, and which arithmetic it is."""
    for number, line in enumerate(source.read_text().splitlines(), 1):
        for guard, where in FORMULA_ENDS.items():
            if line.startswith(guard):
                return number, where
    return 0, "step.h"


def findings(root: Path) -> Counter[tuple[str, str]]:
    """(check, where) -> count over every export; where is "step.h", "mimo_step.h", "generated"
    or "header"."""
    counted: Counter[tuple[str, str]] = Counter()
    for directory in _exports(root):
        source = directory / "ctl.c"
        end, formulas = _formulas_end(source)
        done = subprocess.run(["cppcheck", "--enable=all", "--addon=misra", "--std=c99", "-q",
                               "--template={file}:{line}:{id}:{message}", str(source), str(directory / "ctl.h")],
                              capture_output=True, text=True, cwd=directory)
        for line in done.stderr.splitlines():
            m = FINDING.match(line)
            if m is None:
                continue
            if m["file"].endswith(".h"):
                where = "header"
            elif m["file"].endswith(".c") and int(m["line"]) <= end:
                where = formulas
            else:
                where = "generated"
            counted[m["id"], where] += 1
    return counted


def main() -> int:
    with tempfile.TemporaryDirectory() as root:
        counted = findings(Path(root))
    print(f"cppcheck --enable=all --addon=misra over the exports of {', '.join(EXPORTS)}")
    print("| check | where | findings |\n| --- | --- | ---: |")
    for (check, where), count in sorted(counted.items()):
        print(f"| {check} | {where} | {count} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
