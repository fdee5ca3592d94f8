"""vorn.loop: closed loops and their record.

    simulate    `vorn.simulate`: one closed loop of any controller on any plant
    engine      the one closed loop that simulate and the tuner run (stop or freeze on divergence)
    run         `vorn.Run`, the record of a closed loop, and its table
    metrics     the tracking measures of a run, and the tuner's cost
    figure      every figure of runs and tunings (matplotlib)
    csv_file    the CSV writer of runs
    pid         `vorn.PID`, the baseline controller
"""
