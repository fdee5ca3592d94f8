"""tune_quality.py — how good a tuning of a given budget is: on every built-in SISO plant and
form, the IAE that `vorn.tune` reaches in BUDGET seconds against the best IAE that a search
twenty times longer finds (adaptive controller only), the class defaults', the demo's
hand-picked tuning's and the tuned PID's, all on the plant's 600-sample square wave, with
the input limits the demo gives the plant. Beside them, three process plants with dead time
(PROCESS_PLANTS: a python-control second-order process, a first-order lag, a pH
neutralisation resting at pH 7), each with the stress table of the best form.

    python -m bench.tune_quality                       # budget 10 s, reference 20 × 5 s
    VORN_LONG=1 python -m bench.tune_quality           # budget 30 s, reference 20 × 15 s
    python -m bench.tune_quality --budget 4 --plants dead-time --forms pfdl --json out.json
    python -m bench.tune_quality --budget 30 --plants sopdt,fopdt,ph --reference 0 --stress

`budget` is the whole call, shared evenly with the PID; the reference search gets twenty
times the adaptive controller's share. The figures depend on the machine's load: a search
gets fewer generations on a busy machine. `--evaluations N` stops each search at N
candidates instead (`max_evaluations`; the reference search at twenty times N), so that the
figures repeat on any machine: pick N as what the budget reaches on a quiet one.

    python -m bench.tune_quality --evaluations 60000 --plants sopdt,fopdt,ph --reference 0
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import time

import numpy as np

import vorn
from vorn import demo, plants
from vorn.loop.simulate import schedule

STEPS = 600
FACTOR = 20


class Neutralisation:
    """A pH loop: the reagent valve opens to 0.5 + u (saturating in [0, 1]; at rest u = 0), and
    its flow reaches the tank two samples later; the tank's excess base x follows it as a
    first-order lag (x(k+1) = 0.85·x(k) + 0.15·(valve − 0.5)), and the pH is the titration
    curve of x: 7 + 2·asinh(20·x)/asinh(20), steep around neutral, flat far from it."""

    name = "ph"

    def reset(self, n):
        self.x = np.zeros(n)
        self.pending = [np.full(n, 0.5), np.full(n, 0.5)]
        return self._ph()

    def step(self, u):
        self.pending.append(np.clip(0.5 + np.asarray(u, dtype=float), 0.0, 1.0))
        self.x = 0.85 * self.x + 0.15 * (self.pending.pop(0) - 0.5)
        return self._ph()

    def _ph(self):
        return 7.0 + 2.0 * np.arcsinh(20.0 * self.x) / np.arcsinh(20.0)


def process_plant(name: str):
    """A plant of PROCESS_PLANTS, with its set point and its tuning's keyword arguments."""
    if name == "ph":
        levels = np.array([7.5, 8.5, 6.5, 7.0])
        return Neutralisation(), levels[(np.arange(STEPS) // 150) % 4], {"u_min": -0.5, "u_max": 0.5}
    import control

    from vorn.plants import from_control

    yd = np.array([1.0, 2.0])[(np.arange(STEPS) // 150) % 2]
    if name == "sopdt":  # 1/((5s + 1)(2s + 1)), sampled every 1 s, 4 samples of dead time
        return from_control(control.tf([1.0], [10.0, 7.0, 1.0]), dt=1.0, delay=4, name="sopdt"), yd, {}
    # 1/(10s + 1), 5 samples of dead time
    return from_control(control.tf([1.0], [10.0, 1.0]), dt=1.0, delay=5, name="fopdt"), yd, {}


PROCESS_PLANTS = ("sopdt", "fopdt", "ph")


def demo_iae(form: str, plant: str) -> float | None:
    if (form, plant) not in demo.TUNINGS:
        return None
    run = vorn.simulate(demo.make_controller(form, plant), plant, schedule(plant, STEPS))
    return float(run.metrics.iae[0])


def limits(plant: str) -> dict:
    """The input limits the demo gives the plant's actuator (the same for every form)."""
    tuning = demo.TUNINGS.get(("cfdl", plant), {})
    return {k: tuning[k] for k in ("u_min", "u_max") if k in tuning}


def one(form: str, plant: str, budget: float, seed: int, factor: float = FACTOR,
        evaluations: int | None = None) -> tuple[dict, vorn.Tuning]:
    if plant in PROCESS_PLANTS:
        target, setpoint, options = process_plant(plant)
    else:
        target, setpoint, options = plant, STEPS, limits(plant)
    began = time.monotonic()
    if evaluations is None:
        tuned = vorn.tune(form, target, setpoint, budget=budget, seed=seed, **options)
        longer = {"budget": factor * budget / 2.0}
    else:
        tuned = vorn.tune(form, target, setpoint, max_evaluations=evaluations, seed=seed, **options)
        longer = {"max_evaluations": int(factor * evaluations)}
    took = time.monotonic() - began
    reference = vorn.tune(form, target, setpoint, seed=seed + 1000, pid=False, **longer, **options) \
        if factor else None
    reference_run = reference.run() if reference else None
    best = min(tuned.cost, reference.cost) if reference else tuned.cost
    run = tuned.run()
    pid_run = tuned.run(tuned.pid.controller()) if tuned.pid else None
    row = {
        "plant": plant, "form": form, "budget": budget, "evaluations": evaluations, "seconds": took,
        "tuned": tuned.cost, "generations": tuned.generations,
        "reference": reference.cost if reference else None,
        "reference_generations": reference.generations if reference else None,
        "reference_variation": float(reference_run.metrics.variation[0]) if reference_run else None,
        "ratio": tuned.cost / best if reference else None, "defaults": tuned.default_cost,
        "demo": demo_iae(form, plant) if plant not in PROCESS_PLANTS else None,
        "pid": tuned.pid.cost if tuned.pid else None,
        "variation": float(run.metrics.variation[0]),
        "pid_variation": float(pid_run.metrics.variation[0]) if pid_run else None,
        "overshoot": float(run.metrics.overshoot[0]),
        "params": tuned.params, "pid_params": tuned.pid.params if tuned.pid else None,
        "identified": str(tuned.identified), "warnings": tuned.warnings,
    }
    return row, tuned


def fmt(value: float | None) -> str:
    if value is None:
        return "–"
    return "diverges" if value >= 1e12 else ("chatters" if value >= 1e5 else f"{value:.2f}")


def table(rows: list[dict]) -> str:
    lines = ["| plant | form | tuned IAE | 20× search | ratio | defaults | demo | tuned PID | TV (PID's) |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        ratio = "–" if r["ratio"] is None else f"{r['ratio']:.3f}"
        tv = f"{r['variation']:.1f} ({fmt(r['pid_variation'])})"
        lines.append(f"| {r['plant']} | {r['form']} | {fmt(r['tuned'])} | {fmt(r['reference'])} | "
                     f"{ratio} | {fmt(r['defaults'])} | {fmt(r['demo'])} | {fmt(r['pid'])} | {tv} |")
    return "\n".join(lines)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    long = os.environ.get("VORN_LONG") == "1"
    parser.add_argument("--budget", type=float, default=30.0 if long else 10.0)
    parser.add_argument("--plants", default=",".join(n for n, c in plants.PLANTS.items() if c.dim == 1))
    parser.add_argument("--forms", default="cfdl,pfdl,ffdl")
    parser.add_argument("--evaluations", type=int, default=None,
                        help="stop each search at this many candidates instead of the budget")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--json", default=None, help="also write the rows to this JSON file")
    parser.add_argument("--reference", type=float, default=FACTOR,
                        help=f"the reference search's budget as a multiple of the adaptive share's "
                        f"(default {FACTOR}; 0 skips it)")
    parser.add_argument("--stress", action="store_true", help="print the stress table of each plant's best form")
    args = parser.parse_args(argv)
    rows = []
    stress = []
    began = time.monotonic()
    for plant in args.plants.split(","):
        best: vorn.Tuning | None = None
        for form in args.forms.split(","):
            row, tuned = one(form, plant, args.budget, args.seed, args.reference, args.evaluations)
            rows.append(row)
            best = tuned if best is None or tuned.cost < best.cost else best
            r = rows[-1]
            print(f"{plant:13s} {form}: tuned {fmt(r['tuned'])}, 20x {fmt(r['reference'])}, "
                  f"defaults {fmt(r['defaults'])}, demo {fmt(r['demo'])}, PID {fmt(r['pid'])}, "
                  f"TV {r['variation']:.1f} (PID {fmt(r['pid_variation'])}, 20x {fmt(r['reference_variation'])})  "
                  f"[{r['seconds']:.0f} s; {time.monotonic() - began:.0f} s]",
                  file=sys.stderr, flush=True)
            if args.json:
                with open(args.json, "w", encoding="utf-8") as stream:
                    json.dump(rows, stream, indent=1, default=str)
        if args.stress and best is not None:
            stress.append(f"{plant} ({best.form}, {best.identified.describe() if best.identified else 'not identified'}):"
                          f"\n\n{best.stress()}")
    print(table(rows))
    for text in stress:
        print("\n" + text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
