"""report.py — the machine a run came from, the figures as JSON, and a readable table."""

from __future__ import annotations

import json
import os
import platform
import subprocess
import sys
from pathlib import Path

from bench.timing import Case, summary


def _cpu_model() -> str:
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def _git_commit() -> str | None:
    try:
        out = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True,
                             cwd=Path(__file__).resolve().parent, timeout=10)
    except (OSError, subprocess.SubprocessError):
        return None
    return out.stdout.strip() or None


def _blas() -> list[dict]:
    try:
        from threadpoolctl import threadpool_info
    except ImportError:
        return []
    return [{k: v for k, v in info.items() if k in ("internal_api", "version", "architecture", "num_threads")}
            for info in threadpool_info()]


def machine() -> dict:
    import vorn

    info = {
        "cpu": _cpu_model(),
        "cores": os.cpu_count(),
        "system": platform.platform(),
        "python": sys.version.split()[0],
        "vorn": getattr(vorn, "__version__", None),
        "commit": _git_commit(),
        "OPENBLAS_CORETYPE": os.environ.get("OPENBLAS_CORETYPE"),
        "OPENBLAS_L2_SIZE": os.environ.get("OPENBLAS_L2_SIZE"),
    }
    try:
        import numpy

        info["numpy"] = numpy.__version__
        info["blas"] = _blas()
    except ImportError:
        info["numpy"] = None
    try:
        from importlib.metadata import version

        info["simple_pid"] = version("simple-pid")
    except Exception:  # not installed
        info["simple_pid"] = None
    return info


def results(cases: list[Case], comparisons: list[dict], config: dict) -> dict:
    return {
        "machine": machine(),
        "config": config,
        "cases": [{"name": c.name, "group": c.group, "number": c.number, "per": c.per,
                   "samples": len(c.samples), **{k + "_ns": v * 1e9 for k, v in summary(c.samples).items()}}
                  for c in cases],
        "comparisons": comparisons,
    }


def write_json(data: dict, path: Path) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(json.dumps(data, indent=2, ensure_ascii=False) + "\n")


def _ns(v: float) -> str:
    if v >= 1e6:
        return f"{v / 1e6:.2f} ms"
    if v >= 1e3:
        return f"{v / 1e3:.2f} µs"
    return f"{v:.1f} ns"


def _ratio(r: dict) -> str:
    suffix = "× as fast" if r["kind"] == "speedup" else "×"
    return f"{r['ratio']:.2f}{suffix} ({r['ratio_min']:.2f}–{r['ratio_max']:.2f})"


def _target(r: dict) -> str:
    if r["target"] is None:
        return ""
    sign = "≥" if r["kind"] == "speedup" else "≤"
    mark = "yes" if r["met"] else "NO"
    return f"{sign} {r['target']:g}: {mark}"


def table(data: dict) -> str:
    """Markdown tables: per-call times, then the comparisons."""
    m = data["machine"]
    lines = [f"Machine: {m['cpu']}, {m['cores']} cores, {m['system']}; Python {m['python']}, "
             f"NumPy {m.get('numpy')} (BLAS threads: {data['config'].get('blas_threads') or 'default'}), "
             f"simple-pid {m.get('simple_pid')}; commit {m.get('commit')}",
             "", "| case | median | min – max |", "| --- | ---: | ---: |"]
    for c in data["cases"]:
        lines.append(f"| {c['name']} | {_ns(c['median_ns'])} | {_ns(c['min_ns'])} – {_ns(c['max_ns'])} |")
    lines += ["", "| case | against | ratio (min–max over rounds) | target |", "| --- | --- | ---: | --- |"]
    for r in data["comparisons"]:
        lines.append(f"| {r['case']} | {r['ref']} | {_ratio(r)} | {_target(r)} |")
    return "\n".join(lines)
