"""vorn: model-free adaptive controllers with a C++ core.

The names of `__all__` are the package's surface. Its subpackages and modules, each a layer
that imports only those listed before it:

    forms       the one registry of controller forms (classes, parameters, state, orders)
    values      the caller's numbers as float64 arrays, complex ones refused
    files       every file the package writes, written whole or not at all
    messages    the English meaning of the extension modules' messages
    plants      the built-in plants, the plant protocol and adapters for python-control,
                SciPy and float-written plants
    parameters  `vorn.params`, what a SISO controller holds
    loop        closed loops: `simulate`, `start`, the record `Run`, metrics, figures, CSV, `PID`
    tuning      `tune`, its result `Tuning`, and `initial_phi_from_data`
    export      `export_c`, a controller as C
    demo        the demo's closed loops and their tunings (`vorn.demo.TUNINGS`)
    cli         the `vorn` command line
"""

from vorn._vorn_core import (
    CFDLController,
    FFDLController,
    MimoCfdlController,
    MimoFfdlController,
    MimoPfdlController,
    PFDLController,
    apply_ffdl_critical_tuning,
    apply_ffdl_zn_tuning,
    apply_pfdl_initial_guess,
    critical_proportional_to_pfdl,
    ffdl_critical_tuning,
    ffdl_zn_tuning,
    load_config_from_yaml,
    pid_to_pfdl,
    zn_response_to_pfdl,
)

from vorn._vorn_fleet import CFDLFleet, FFDLFleet, MimoCfdlFleet, MimoFfdlFleet, MimoPfdlFleet, PFDLFleet
from vorn import messages
from vorn.loop.figure import plot_runs
from vorn.loop.pid import PID
from vorn.loop.run import Run, table
from vorn.loop.simulate import simulate
from vorn.loop.start import start
from vorn.plants import Plant
from vorn.tuning.identify import initial_phi_from_data
from vorn.tuning.objective import Objective
from vorn.tuning.result import Tuning
from vorn.tuning.tune import tune

from vorn._version import __version__

# In the extension module's registration order.
__all__ = [
    "CFDLController",
    "PFDLController",
    "FFDLController",
    "MimoCfdlController",
    "MimoPfdlController",
    "MimoFfdlController",
    "pid_to_pfdl",
    "zn_response_to_pfdl",
    "critical_proportional_to_pfdl",
    "apply_pfdl_initial_guess",
    "ffdl_zn_tuning",
    "apply_ffdl_zn_tuning",
    "ffdl_critical_tuning",
    "apply_ffdl_critical_tuning",
    "load_config_from_yaml",
    "CFDLFleet",
    "PFDLFleet",
    "FFDLFleet",
    "MimoCfdlFleet",
    "MimoPfdlFleet",
    "MimoFfdlFleet",
    "simulate",
    "start",
    "Run",
    "PID",
    "Plant",
    "table",
    "plot_runs",
    "tune",
    "Tuning",
    "Objective",
    "initial_phi_from_data",
    "export_c",
    "params",
]

from vorn.export import export_c  # noqa: E402  (after the core it builds on)
from vorn.parameters import params  # noqa: E402
