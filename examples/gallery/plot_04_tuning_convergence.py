"""
A tuning's convergence
======================

``Tuning.history`` holds the best cost found after every generation of the search; a seeded
search with ``max_generations`` repeats exactly on any machine.
"""

import matplotlib.pyplot as plt

import vorn

tuning = vorn.tune("ffdl", "dead-time", 300, seed=1, max_generations=12, pid=False)
print(f"{tuning.generations} generations, {tuning.evaluations} evaluations: "
      f"IAE {tuning.cost:.3f} against {tuning.default_cost:.3f} for the class defaults")
print({name: round(value, 4) if isinstance(value, float) else value
       for name, value in tuning.params.items()})

fig, ax = plt.subplots(figsize=(6, 3.5), layout="constrained")
ax.plot(range(1, len(tuning.history) + 1), tuning.history, marker="o")
ax.axhline(tuning.default_cost, color="grey", linestyle="--", label="class defaults")
ax.set_xlabel("generation")
ax.set_ylabel("best IAE so far")
ax.set_yscale("log")
ax.legend()
