"""vorn.cli: the `vorn` command line, one module per command.

    entry         the parser and `main` (`vorn.cli.main`, the console script)
    errors        UsageError, the one error type (one line, exit status 2), and PROG
    config        the one way from a configuration file to a controller
    arguments     the argument types and options the commands share
    report        what `demo` and `run` print and write
    demo, run, tune, export_c, check_config    the commands
"""

from vorn.cli.entry import main

__all__ = ["main"]
