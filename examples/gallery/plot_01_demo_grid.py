"""
The demo grid
=============

Every controller form on every built-in plant, as ``vorn demo`` runs them: the three SISO
forms and a PID on the five SISO plants, the three MIMO forms on the coupled 2×2 plant, each
with the demo's tuning.
"""

import vorn
from vorn import demo
from vorn.plants import PLANTS

runs = []
for plant, cls in PLANTS.items():
    forms = demo.FORMS + (("pid",) if cls.dim == 1 else ())
    for form in forms:
        runs.append(vorn.simulate(demo.make_controller(form, plant), plant, 300))
print(vorn.table(runs))

# %%
# Each column is one plant; each controller's output (with its set point) sits above its input.
vorn.plot_runs(runs)
