"""
A python-control plant, tuned, against a PID
============================================

Any object with ``reset(n)`` and ``step(u)`` is a plant. Here a second-order transfer
function from the ``control`` package (``pip install 'vorn[control]'``), discretised at
0.1 s, is wrapped as one; ``vorn.tune`` searches a partial-form controller on it, beside a
PID tuned on the same runs.
"""

import control
import numpy as np

import vorn

dt = 0.1
plant_tf = control.sample_system(control.tf([1.0], [1.0, 0.8, 1.0]), dt)
plant_ss = control.ss(plant_tf)
A, B, C, D = (np.asarray(m, dtype=float) for m in (plant_ss.A, plant_ss.B, plant_ss.C, plant_ss.D))


class StateSpacePlant:
    """n copies of the discrete system x' = A x + B u, y = C x + D u."""

    def reset(self, n):
        self.x = np.zeros((n, A.shape[0]))
        return np.zeros(n)

    def step(self, u):
        u = np.asarray(u, dtype=float).reshape(-1)
        self.x = self.x @ A.T + np.outer(u, B[:, 0])
        return self.x @ C[0] + D[0, 0] * u


yd = np.repeat([1.0, 0.5, 1.5], 100)
tuning = vorn.tune("pfdl", StateSpacePlant(), yd, seed=2, max_generations=8, u_min=-5.0, u_max=5.0)
print(f"PFDL IAE {tuning.cost:.3f} (class defaults {tuning.default_cost:.3f}), tuned PID {tuning.pid.cost:.3f}")
print(vorn.table([tuning.run(), vorn.simulate(tuning.pid.controller(), StateSpacePlant(), yd)]))

# %%
# The tuned controller against the PID and the class defaults on the same set point.
tuning.plot()
