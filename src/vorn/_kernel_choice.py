"""Checks, when vorn is imported, the environment variable that picks the MIMO kernel
variant (see docs/performance.md), so that a misspelt name fails loudly instead of
silently leaving the choice to the processor."""

import os
from collections.abc import Mapping

VARIABLE = "VORN_MIMO_KERNELS"
VARIANTS = ("auto", "portable", "avx2", "avx512")


def check_environment(environ: Mapping[str, str] = os.environ) -> None:
    """Raises ImportError when the variable is set to a name that is no variant."""
    value = environ.get(VARIABLE, "")
    if value and value not in VARIANTS:
        raise ImportError(f"{VARIABLE}={value!r} names no MIMO kernel variant; "
                          f"use one of {', '.join(VARIANTS)}, or leave it unset")
