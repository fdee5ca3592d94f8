"""peers.py — what a user would otherwise write, timed against the module: the CFDL, PFDL
and FFDL steps in plain Python, and the partial-form MIMO update in NumPy.

They are the models in tests/models.py, which the tests also check against the module:
the plain-Python ones agree with it bit for bit, the NumPy one to rounding.
"""

from __future__ import annotations

from tests.models import CfdlModel as CfdlPeer
from tests.models import FfdlModel as FfdlPeer
from tests.models import MimoPfdlNumpy as MimoPfdlPeer
from tests.models import PfdlModel as PfdlPeer

__all__ = ["CfdlPeer", "PfdlPeer", "FfdlPeer", "MimoPfdlPeer"]
