"""vorn.tuning: searching a controller's parameters on a plant.

    tune        `vorn.tune`, the search (CMA-ES) beside a tuned PID
    result      `vorn.Tuning`, what it returns, and `PIDTuning`
    space       the searched parameters, their bounds and the unit cube
    search      the optimiser's loop, its budget and progress records
    evaluate    the cost of a generation of candidates (one closed loop for them all)
    progress    the command line's progress line
    save        a tuning as the configuration file the loader reads back
    identify    `vorn.initial_phi_from_data`, a warm start from logged data, the bump test, and
                `Logged`: the dead time and gain sign from logged data instead
    weights     the full form's step-factor vector in a tuning's parameters
    objective   `vorn.Objective`: weights on tracking, input variation and overshoot
    calm        the default objective's rule against chattering loops
    stress      `Tuning.stress()`: both tuned controllers on perturbed plants
"""

from vorn.tuning.identify import Logged

__all__ = ["Logged"]
