"""vorn: model-free adaptive controllers with a C++ core."""

from vorn import _vorn_core
from vorn._vorn_core import *  # noqa: F401,F403

__all__ = list(_vorn_core.__all__)
__version__ = "0.1.0"
