"""errors.py: the command line's one error type and its name: a mistake in the command line
or its files is a UsageError, reported as `PROG: message` in one line with exit status 2."""

from __future__ import annotations

PROG = "vorn"


class UsageError(Exception):
    """A mistake in the command line or its files: reported in one line, exit status 2."""
