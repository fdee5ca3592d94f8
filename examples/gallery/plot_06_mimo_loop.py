"""
A MIMO loop
===========

The compact-form MIMO controller on the coupled 2×2 built-in plant: each output follows its
own square wave while the controller learns the plant's pseudo-Jacobian. Then a MIMO fleet
tries three settings at once beside a decentralised PID, one loop per channel.
"""

import numpy as np

import vorn
from vorn import demo

run = vorn.simulate(demo.make_controller("cfdl", "coupled"), "coupled", 400)
print(run.table())

# %%
# Both outputs with their set points, and both inputs.
run.plot()

# %%
# A fleet of three partial-form controllers, one value of ``lambda_`` each, stepped by one call
# per sample, and a decentralised PID on the same noisy plant. Measures are per member and
# channel; the table pools a member's channels.
fleet = vorn.MimoPfdlFleet(3, 2, mu=0.1, rho=1.0, lambda_=[0.05, 0.1, 0.3], initial_phi=2.0, l_u=3)
fleet_run = vorn.simulate(fleet, "coupled", 480, noise=0.005, seed=1)
pid_run = vorn.simulate(vorn.PID(kp=0.3, ki=[0.2, 0.15], n=2), "coupled", 480, noise=0.005, seed=1)
print("IAE per member and channel:\n", np.round(fleet_run.metrics.iae, 2))
print(vorn.table([fleet_run, pid_run]))

# %%
# The fleet's best member, every channel, against the decentralised PID.
best = int(np.argmin(fleet_run.metrics.iae.sum(axis=1)))
vorn.plot_runs([fleet_run.member(best), pid_run])
