"""vorn: model-free adaptive controllers with a C++ core."""

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

from vorn._vorn_fleet import CFDLFleet, FFDLFleet, PFDLFleet
from vorn.pid import PID
from vorn.plants import Plant
from vorn.run import Run, plot_runs, table
from vorn.simulation import simulate
from vorn.identify import initial_phi_from_data
from vorn.tuner import Tuning, tune

__version__ = "0.1.0"

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
    "simulate",
    "Run",
    "PID",
    "Plant",
    "table",
    "plot_runs",
    "tune",
    "Tuning",
    "initial_phi_from_data",
    "export_c",
    "params",
]

from vorn.export import export_c  # noqa: E402  (after the core it builds on)
from vorn.parameters import params  # noqa: E402
