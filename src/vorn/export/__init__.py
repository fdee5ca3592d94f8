"""vorn.export: a controller (SISO or MIMO) written out as dependency-free C99 that computes the same doubles.

`export_c(controller, directory, name)` writes `NAME.h` and `NAME.c`; `check_c_name(name)`
tells whether a name can prefix the generated C names and files. The C sources are built in
`vorn.export.c` (SISO) and `vorn.export.mimo` from the templates beside them and the core's
own step arithmetic (`step.h`, `mimo_step.h`), whose text `NAME.c` carries as it is;
`vorn.export.text` holds what both build from.
"""

from vorn.export.c import check_c_name, export_c

__all__ = ["export_c", "check_c_name"]
