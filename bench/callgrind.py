"""callgrind.py — instructions per call of benchmark cases, counted by valgrind's callgrind,
which repeats exactly where wall-clock times do not.

    python -m bench.callgrind "PFDLController.update(y, yd)" "floor: math.atan2(y, yd)"
    python -m bench.callgrind --groups mimo --dims 32 --annotate "MimoCfdlController.update dim=32"

Each case runs twice under callgrind, `calls` and 2·`calls` times; the difference of the two
totals divided by `calls` is the cost of one call, start-up and set-up cancelling out.
--annotate lists the functions that spend the most instructions per call.
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def _child(name: str, calls: int, groups: str, dims: str) -> None:
    from bench import cases

    config = cases.Config(groups=tuple(groups.split(",")), dims=tuple(int(d) for d in dims.split(",")), fleet=100)
    found = {c.name: c for c in cases.build(config)[0]}
    case = found.get(name)
    if case is None:
        sys.exit(f"no case named {name!r}; known: {', '.join(found)}")
    timer = case.timer()
    timer.timeit(10)  # warm the specialising interpreter before counting
    timer.timeit(calls)


def _total(out: Path) -> int:
    for line in out.read_text().splitlines():
        if line.startswith(("summary:", "totals:")):
            return int(line.split()[1])
    raise RuntimeError(f"no totals in {out}")


def _by_function(out: Path) -> dict[str, int]:
    """Exclusive instruction counts per function of one callgrind output."""
    text = subprocess.run(["callgrind_annotate", "--threshold=100", str(out)], capture_output=True, text=True,
                          check=True).stdout
    counts = {}
    for line in text.splitlines():
        m = re.match(r"^\s*([\d,]+) \([^)]*\)\s+(.*)$", line)
        if m and "PROGRAM TOTALS" not in m.group(2):
            counts[m.group(2).strip()] = counts.get(m.group(2).strip(), 0) + int(m.group(1).replace(",", ""))
    return counts


def count(name: str, calls: int, groups: str, dims: str, annotate: int = 0) -> float:
    """Instructions per call of case `name`. With `annotate` > 0, also prints the functions
    that take the most instructions per call (their own instructions, not their callees')."""
    totals, functions = [], []
    with tempfile.TemporaryDirectory() as tmp:
        for n in (calls, 2 * calls):
            out = Path(tmp) / f"cg.{n}"
            cmd = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, "-m",
                   "bench.callgrind", "--child", name, str(n), groups, dims]
            subprocess.run(cmd, cwd=ROOT, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           env={**os.environ, "PYTHONHASHSEED": "0"})
            totals.append(_total(out))
            if annotate:
                functions.append(_by_function(out))
    if annotate:
        diff = {f: (functions[1].get(f, 0) - functions[0].get(f, 0)) / calls for f in functions[1]}
        for f, v in sorted(diff.items(), key=lambda kv: -kv[1])[:annotate]:
            print(f"{v:10.1f}  {f}")
    return (totals[1] - totals[0]) / calls


def main(argv: list[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else argv
    if argv[:1] == ["--child"]:
        _child(argv[1], int(argv[2]), argv[3], argv[4])
        return 0
    ap = argparse.ArgumentParser(prog="python -m bench.callgrind", description=__doc__.splitlines()[0])
    ap.add_argument("names", nargs="+", help="case names as the suite's table shows them")
    ap.add_argument("--groups", default="siso,peers", help="groups that hold the cases (default siso,peers)")
    ap.add_argument("--dims", default="2", help="MIMO dims to build (default 2)")
    ap.add_argument("--calls", type=int, default=20000, help="calls of the shorter run (default 20000)")
    ap.add_argument("--annotate", type=int, default=0, metavar="N", help="list the N functions costliest per call")
    a = ap.parse_args(argv)
    for name in a.names:
        print(f"{count(name, a.calls, a.groups, a.dims, a.annotate):12.1f} instructions per call: {name}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
