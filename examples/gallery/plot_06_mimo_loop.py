"""
A MIMO loop
===========

The compact-form MIMO controller on the coupled 2×2 built-in plant: each output follows its
own square wave while the controller learns the plant's pseudo-Jacobian.
"""

import vorn
from vorn import demo

run = vorn.simulate(demo.make_controller("cfdl", "coupled"), "coupled", 400)
print(run.table())

# %%
# Both outputs with their set points, and both inputs.
run.plot()
