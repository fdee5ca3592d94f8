"""analysis.py: cppcheck with every check and its MISRA C:2012 addon over the exported files of
every form, the findings counted per check and split by where they stand: the step arithmetic
that NAME.c carries as it is (the core's step.h) or the code the generator writes around it.

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
}
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
        vorn.export_c(ctl, directory, "ctl")
        directories.append(directory)
    return directories


def _formulas_end(source: Path) -> int:
    """The last line of the step arithmetic inside ctl.c."""
    for number, line in enumerate(source.read_text().splitlines(), 1):
        if line.startswith("#endif /* VORN_FORMULAS_STEP_H */"):
            return number
    return 0


def findings(root: Path) -> Counter[tuple[str, str]]:
    """(check, where) -> count over every export; where is "step.h", "generated" or "header"."""
    counted: Counter[tuple[str, str]] = Counter()
    for directory in _exports(root):
        source = directory / "ctl.c"
        end = _formulas_end(source)
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
                where = "step.h"
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
