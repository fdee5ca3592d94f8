"""tune_quality.py — how good a tuning of a given budget is: on every built-in SISO plant and
form, the IAE that `vorn.tune` reaches in BUDGET seconds against the best IAE that a search
twenty times longer finds (adaptive controller only), the class defaults', the demo's
hand-picked tuning's and the tuned PID's, all on the plant's 600-sample square wave, with
the input limits the demo gives the plant.

    python -m bench.tune_quality                       # budget 10 s, reference 20 × 5 s
    VORN_LONG=1 python -m bench.tune_quality           # budget 30 s, reference 20 × 15 s
    python -m bench.tune_quality --budget 4 --plants dead-time --forms pfdl --json out.json

`budget` is the whole call, shared evenly with the PID; the reference search gets twenty
times the adaptive controller's share. The figures depend on the machine's load: a search
gets fewer generations on a busy machine.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import time

import vorn
from vorn import demo, plants
from vorn.loop.simulate import schedule

STEPS = 600
FACTOR = 20


def demo_iae(form: str, plant: str) -> float | None:
    if (form, plant) not in demo.TUNINGS:
        return None
    run = vorn.simulate(demo.make_controller(form, plant), plant, schedule(plant, STEPS))
    return float(run.metrics.iae[0])


def limits(plant: str) -> dict:
    """The input limits the demo gives the plant's actuator (the same for every form)."""
    tuning = demo.TUNINGS.get(("cfdl", plant), {})
    return {k: tuning[k] for k in ("u_min", "u_max") if k in tuning}


def one(form: str, plant: str, budget: float, seed: int) -> dict:
    tuned = vorn.tune(form, plant, STEPS, budget=budget, seed=seed, **limits(plant))
    reference = vorn.tune(form, plant, STEPS, budget=FACTOR * budget / 2.0, seed=seed + 1000, pid=False,
                          **limits(plant))
    best = min(tuned.cost, reference.cost)
    return {
        "plant": plant, "form": form, "budget": budget,
        "tuned": tuned.cost, "generations": tuned.generations,
        "reference": reference.cost, "reference_generations": reference.generations,
        "ratio": tuned.cost / best, "defaults": tuned.default_cost,
        "demo": demo_iae(form, plant), "pid": tuned.pid.cost if tuned.pid else None,
        "params": tuned.params, "pid_params": tuned.pid.params if tuned.pid else None,
    }


def fmt(value: float | None) -> str:
    if value is None:
        return "–"
    return "diverges" if value >= 1e12 else ("chatters" if value >= 1e5 else f"{value:.2f}")


def table(rows: list[dict]) -> str:
    lines = ["| plant | form | tuned IAE | 20× search | ratio | defaults | demo | tuned PID |",
             "|---|---|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        lines.append(f"| {r['plant']} | {r['form']} | {fmt(r['tuned'])} | {fmt(r['reference'])} | "
                     f"{r['ratio']:.3f} | {fmt(r['defaults'])} | {fmt(r['demo'])} | {fmt(r['pid'])} |")
    return "\n".join(lines)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    long = os.environ.get("VORN_LONG") == "1"
    parser.add_argument("--budget", type=float, default=30.0 if long else 10.0)
    parser.add_argument("--plants", default=",".join(n for n, c in plants.PLANTS.items() if c.dim == 1))
    parser.add_argument("--forms", default="cfdl,pfdl,ffdl")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--json", default=None, help="also write the rows to this JSON file")
    args = parser.parse_args(argv)
    rows = []
    began = time.monotonic()
    for plant in args.plants.split(","):
        for form in args.forms.split(","):
            rows.append(one(form, plant, args.budget, args.seed))
            r = rows[-1]
            print(f"{plant:13s} {form}: tuned {fmt(r['tuned'])}, 20x {fmt(r['reference'])}, "
                  f"ratio {r['ratio']:.3f}, defaults {fmt(r['defaults'])}, demo {fmt(r['demo'])}, "
                  f"PID {fmt(r['pid'])}  [{time.monotonic() - began:.0f} s]", file=sys.stderr, flush=True)
            if args.json:
                with open(args.json, "w", encoding="utf-8") as stream:
                    json.dump(rows, stream, indent=1)
    print(table(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main())
