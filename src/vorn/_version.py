"""_version.py: the package's version, its one home (the build and the docs read it here)."""

__version__ = "0.1.0"
