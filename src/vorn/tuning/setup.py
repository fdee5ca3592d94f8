"""setup.py: what a tuning searches, as `vorn.tune` prepares it for a SISO or a MIMO plant
before the searches, which run the same way for both."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Callable

import numpy as np

from vorn.tuning.space import SearchSpace


@dataclass
class Setup:
    """One tuning's plant, set point and spaces.

    plant       the plant object, or a built-in plant's name
    yd          the set point, (steps,) or (steps, dim)
    begin       constructor keywords to start the search from ({}: the middle of the space)
    identified  what the bump test found (None: skipped, or nothing moved)
    space       the adaptive controller's search space; `pid_space` the PID's
    single      builds one controller from a candidate's keywords (checks the space's corners);
                `pid_single` the same for the PID
    defaults    the class defaults as a point of `space`, injected into the first generation
    extra       the keywords the class defaults are costed with (the input limits)
    dim         the plant's channels (1: SISO)
    signs       per channel, the sign its input is multiplied by (MIMO; None for SISO)
    """

    plant: Any
    yd: np.ndarray
    begin: dict[str, Any]
    identified: Any
    space: SearchSpace
    pid_space: SearchSpace
    single: Callable[..., Any]
    pid_single: Callable[..., Any]
    defaults: dict[str, Any]
    extra: dict[str, Any] = field(default_factory=dict)
    dim: int = 1
    signs: tuple[float, ...] | None = None
