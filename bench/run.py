"""run.py — runs the benchmark suite and writes its figures as a table and as JSON.

    python -m bench.run                 # the whole suite (a minute or two)
    python -m bench.run --quick         # fewer rounds, shorter samples, dims 2, 8 and 32
    python -m bench.run --groups siso,peers --repeat 25 --json out.json
"""

from __future__ import annotations

import argparse
import contextlib
import os
import sys
from dataclasses import asdict
from pathlib import Path

from bench import cases as suite
from bench import report
from bench.timing import compare, measure

DEFAULT_JSON = Path(__file__).resolve().parent / "results" / "latest.json"


def _ints(text: str) -> tuple[int, ...]:
    return tuple(int(v) for v in text.split(",") if v)


def _names(text: str) -> tuple[str, ...]:
    names = tuple(v for v in text.split(",") if v)
    unknown = set(names) - set(suite.Config.groups)
    if unknown:
        raise argparse.ArgumentTypeError(f"unknown group(s): {', '.join(sorted(unknown))}")
    return names


def parse(argv: list[str] | None) -> tuple[suite.Config, Path, bool]:
    ap = argparse.ArgumentParser(prog="python -m bench.run", description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="5 rounds of 2 ms samples, dims 2,8,32, a fleet of 1000")
    ap.add_argument("--groups", type=_names, help="comma-separated: siso,peers,mimo,fleet,arrays,loop (default: all)")
    ap.add_argument("--dims", type=_ints, help="MIMO dims (default 2,4,8,32,128,256)")
    ap.add_argument("--fleet", type=int, help="controllers in the fleet (default 10000)")
    ap.add_argument("--fleet-sizes", type=_ints, help="members of the array fleets (default 1,10,1000,...,1000000)")
    ap.add_argument("--repeat", type=int, help="rounds; every case is sampled once per round (default 15)")
    ap.add_argument("--min-time", type=float, help="seconds per sample (default 0.02)")
    ap.add_argument("--blas-threads", type=int, default=1,
                    help="threads NumPy's BLAS may use; 0 leaves its default (default 1, as the module uses one)")
    ap.add_argument("--json", type=Path, default=DEFAULT_JSON, help=f"where to write the figures ({DEFAULT_JSON})")
    ap.add_argument("--quiet", action="store_true", help="do not print the table")
    a = ap.parse_args(argv)
    config = suite.Config()
    if a.quick:
        config = suite.Config(dims=(2, 8, 32), fleet=1000, fleet_sizes=(1, 1000, 10_000), repeat=5, min_time=0.002)
    for key in ("groups", "dims", "fleet", "fleet_sizes", "repeat", "min_time"):
        value = getattr(a, key)
        if value is not None:
            setattr(config, key, value)
    if config.repeat < 1 or config.fleet < 1 or config.min_time <= 0 or a.blas_threads < 0:
        ap.error("--repeat and --fleet must be at least 1, --min-time positive, --blas-threads not negative")
    config.blas_threads = a.blas_threads
    return config, a.json, a.quiet


@contextlib.contextmanager
def blas_limit(threads: int):
    """Holds NumPy's BLAS to `threads` threads while the suite runs (0: no limit). The
    environment covers a NumPy not imported yet; threadpoolctl, when present, one already loaded."""
    if threads <= 0:
        yield
        return
    names = ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS")
    saved = {k: os.environ.get(k) for k in names}
    os.environ.update({k: str(threads) for k in names})
    try:
        try:
            from threadpoolctl import threadpool_limits
        except ImportError:
            yield
        else:
            with threadpool_limits(limits=threads, user_api="blas"):
                yield
    finally:
        for k, v in saved.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v


def run(config: suite.Config) -> dict:
    """Builds, measures and compares; returns the figures."""
    cases, cmps = suite.build(config)
    measure(cases, config.repeat, config.min_time)
    by_name = {c.name: c for c in cases}
    compared = [compare(c, by_name) for c in cmps if c.case in by_name and c.ref in by_name]
    data = report.results(cases, compared, asdict(config))
    skipped = []
    if "peers" in config.groups and not suite.have_simple_pid():
        skipped.append("simple-pid: not installed")
    if "mimo" in config.groups and not suite.have_numpy():
        skipped.append("mimo: NumPy not installed")
    data["skipped"] = skipped
    return data


def main(argv: list[str] | None = None) -> int:
    config, json_path, quiet = parse(argv)
    with blas_limit(config.blas_threads):
        data = run(config)
    report.write_json(data, json_path)
    if not quiet:
        print(report.table(data))
        for s in data["skipped"]:
            print(f"skipped {s}")
        print(f"\nfigures written to {json_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
