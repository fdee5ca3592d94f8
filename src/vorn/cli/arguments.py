"""arguments.py: the argument types and options the `vorn` commands share: counts bounded by
MAX_STEPS, noise, seeds, disturbances, and the output options of `demo` and `run`."""

from __future__ import annotations

import argparse
from typing import Callable

from vorn.plants import check_noise, parse_disturbance

# The most samples a command's runs take: `vorn run`'s steps, and `vorn tune`'s steps times
# scenarios for each candidate.
MAX_STEPS = 1_000_000


def count_argument(what: str, at_most: int = MAX_STEPS) -> Callable[[str], int]:
    """The argparse type of a count from 1 to `at_most` (`what` names it: "number of steps").
    Every count that sizes a run's arrays shares the bound MAX_STEPS."""
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"invalid {what}: '{text}'") from None
        if not 1 <= value <= at_most:
            raise argparse.ArgumentTypeError(f"invalid {what} '{value}': must be from 1 to {at_most}")
        return value
    return convert


def noise(text: str) -> float:
    try:
        return check_noise(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid noise '{text}': a standard deviation of at least 0") from None


def seed(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"invalid seed '{text}': an integer of at least 0")
    return value


def disturbance(text: str) -> tuple[float, int] | None:
    size, at, sample = text.partition("@")
    try:
        return parse_disturbance((float(size), int(sample)))
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid disturbance '{text}': SIZE@SAMPLE, e.g. 0.2@300") from None


def add_outputs(parser: argparse.ArgumentParser, default_steps: int) -> None:
    """--steps, --csv and --plot, as `vorn demo` and `vorn run` take them."""
    parser.add_argument("--steps", type=count_argument("number of steps"), default=default_steps, metavar="N",
                        help=f"samples per run (default {default_steps})")
    parser.add_argument("--csv", metavar="FILE", help="write the trajectories to FILE as CSV")
    parser.add_argument("--plot", metavar="FILE.png", help="draw set point, output and input to FILE.png")
