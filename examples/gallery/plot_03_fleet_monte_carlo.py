"""
A Monte Carlo study with a fleet
================================

Ten thousand uncertain first-order plants, each closed by one member of a
``PFDLFleet`` with the same parameters: one call per sample steps them all. The histogram
shows how far each loop ends from its set point.
"""

import matplotlib.pyplot as plt
import numpy as np

import vorn

n, steps = 10_000, 150
rng = np.random.default_rng(3)
a = rng.uniform(0.6, 0.95, n)
b = rng.uniform(0.2, 1.0, n)
fleet = vorn.PFDLFleet(n, rho=0.6, lambda_=0.5, u_min=-5.0, u_max=5.0)
y, u = np.zeros(n), np.empty(n)
iae = np.zeros(n)
for k in range(steps):
    fleet.update(y, 1.0, out=u)
    y = a * y + b * u
    iae += np.abs(1.0 - y)
print(f"{np.mean(np.abs(y - 1.0) < 0.01):.1%} of the loops within 1% of the set point")
print(f"IAE: median {np.median(iae):.2f}, 95th percentile {np.percentile(iae, 95):.2f}")

fig, ax = plt.subplots(figsize=(6, 3.5), layout="constrained")
ax.hist(iae, bins=60)
ax.set_xlabel("IAE over the run")
ax.set_ylabel("loops")
ax.set_title(f"{n} uncertain plants, one PFDLFleet")
