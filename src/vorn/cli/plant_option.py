"""plant_option.py: `--plant`, `--plant-arg` and `--setpoint` of `vorn run` and `vorn tune`:
a built-in plant by name, or a user's own plant as `module:NAME` or `path/to/file.py:NAME`.

NAME is a class or function called with the `--plant-arg key=value` pairs as keywords (values
read as Python literals, else kept as strings), or a plant object itself. What it makes may
follow the plant protocol (`reset(n)`, `step(u)` over n copies) or be written for floats
(`reset()` -> y0, `step(u)` -> y), which runs through `vorn.plants.from_scalar`.

A user's plant has no square wave of its own: `--setpoint 1,2` gives the levels, each held for
120 samples (MIMO: channel c starts at level c); without it the levels are DEFAULT_LEVELS.
"""

from __future__ import annotations

import argparse
import ast
import functools
import importlib
import importlib.util
import inspect
import os
import sys
from types import SimpleNamespace
from typing import Any

import numpy as np

from vorn import plants
from vorn.cli.errors import UsageError
from vorn.loop.simulate import schedule

# The square wave a user's plant follows without --setpoint.
DEFAULT_LEVELS = (1.0, 2.0)


def add_arguments(parser: argparse.ArgumentParser, names: list[str]) -> None:
    """--plant (one of `names`, or a user's plant), --plant-arg and --setpoint."""
    parser.add_argument("--plant", required=True, metavar="PLANT",
                        help=f"a built-in plant ({', '.join(names)}), or your own as module:Class "
                        "or path/to/file.py:Class")
    parser.add_argument("--plant-arg", action="append", default=[], type=plant_arg, metavar="KEY=VALUE",
                        help="a keyword argument of your plant's class (repeatable; values are "
                        "Python literals, else strings)")
    parser.add_argument("--setpoint", type=levels, default=None, metavar="LEVELS",
                        help="the square wave's levels, each held for 120 samples, e.g. 1,2 "
                        "(default: the built-in plant's; for your own plant "
                        f"{','.join(f'{v:g}' for v in DEFAULT_LEVELS)})")


def plant_arg(text: str) -> tuple[str, Any]:
    key, equals, value = text.partition("=")
    key = key.strip()
    if not equals or not key.isidentifier():
        raise argparse.ArgumentTypeError(f"invalid plant argument '{text}': KEY=VALUE, e.g. gain=2.5")
    try:
        return key, ast.literal_eval(value)
    except (ValueError, SyntaxError, MemoryError, RecursionError):
        return key, value


def levels(text: str) -> tuple[float, ...]:
    try:
        values = tuple(float(part) for part in text.split(","))
    except ValueError:
        values = ()
    if not values or not all(np.isfinite(values)):
        raise argparse.ArgumentTypeError(f"invalid set point '{text}': finite levels separated by commas, e.g. 1,2")
    return values


def is_builtin(args: argparse.Namespace) -> bool:
    """Whether --plant names a built-in plant; refuses a name that is neither kind."""
    if args.plant in plants.PLANTS:
        if args.plant_arg:
            raise UsageError(f"--plant-arg is for your own plant; the {args.plant} plant takes none")
        return True
    if ":" not in args.plant:
        raise UsageError(f"unknown plant '{args.plant}': a built-in plant ({', '.join(plants.PLANTS)}) "
                         "or your own as module:Class or path/to/file.py:Class")
    return False


def _import(where: str) -> Any:
    """The module `where`: a dotted name on sys.path, or a Python file's path."""
    try:
        if not (where.endswith(".py") or "/" in where or os.sep in where):
            if "" not in sys.path and os.getcwd() not in sys.path:
                sys.path.insert(0, os.getcwd())  # as `python -m` would: modules beside the user
            return importlib.import_module(where)
        if not os.path.isfile(where):
            raise UsageError(f"cannot load the plant: no file {where}")
        name = f"vorn_user_plant_{os.path.splitext(os.path.basename(where))[0]}"
        spec = importlib.util.spec_from_file_location(name, where)
        if spec is None or spec.loader is None:
            raise UsageError(f"cannot load the plant from {where}: not a Python file")
        module = importlib.util.module_from_spec(spec)
        sys.modules[name] = module  # its classes pickle by this name (tune --workers)
        spec.loader.exec_module(module)
        return module
    except UsageError:
        raise
    except Exception as error:
        raise UsageError(f"cannot import {where}: {type(error).__name__}: {error}") from None


def _follows(plant: Any) -> bool:
    return callable(getattr(plant, "reset", None)) and callable(getattr(plant, "step", None))


def _resets_copies(plant: Any) -> bool:
    """Whether `plant.reset` takes the number of copies (the plant protocol), rather than
    nothing (a plant written for floats)."""
    try:
        parameters = inspect.signature(plant.reset).parameters.values()
    except (TypeError, ValueError):
        return True
    return any(p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD) and p.default is p.empty
               for p in parameters)


def user_plant(args: argparse.Namespace) -> Any:
    """The user's plant that --plant names, made with --plant-arg, following the plant protocol."""
    where, _, attribute = args.plant.rpartition(":")
    if not where or not attribute.isidentifier():
        raise UsageError(f"invalid plant '{args.plant}': module:Class or path/to/file.py:Class")
    module = _import(where)
    try:
        target = getattr(module, attribute)
    except AttributeError:
        raise UsageError(f"cannot load the plant: {where} has no {attribute}") from None
    kwargs = dict(args.plant_arg)
    try:
        if not _follows(target) or inspect.isclass(target):
            if not callable(target):
                raise UsageError(f"{args.plant} is a {type(target).__name__}, not a plant, nor a class "
                                 "or function that makes one")
            made = target(**kwargs)
        elif kwargs:
            raise UsageError(f"{args.plant} is a plant object; --plant-arg is for a class or function")
        else:
            made = target
        if not _follows(made):
            raise UsageError(f"{args.plant} does not follow the plant protocol: it makes a "
                             f"{type(made).__name__} without reset() and step(u)")
        plant = made if _resets_copies(made) else plants.from_scalar(functools.partial(target, **kwargs),
                                                                     name=attribute)
        _check(plant, args.plant)
    except UsageError:
        raise
    except Exception as error:
        raise UsageError(f"the plant {args.plant} failed: {type(error).__name__}: {error}") from None
    return plant


def _check(plant: Any, label: str) -> None:
    y = np.asarray(plant.reset(1))
    if y.dtype.kind not in "fiu" or y.shape not in ((1,), (1, dim(plant))):
        raise UsageError(f"{label} does not follow the plant protocol: reset(1) returned "
                         f"{type(y).__name__} of shape {y.shape}, expected (1,) or (1, dim)")


def dim(plant: Any) -> int:
    """The plant's number of outputs (and inputs)."""
    value = getattr(plant, "dim", None)
    if isinstance(value, int) and value >= 1:
        return value
    shape = np.shape(plant.reset(1))
    return 1 if len(shape) == 1 else int(shape[-1])


def setpoint(args: argparse.Namespace, plant: Any, steps: int) -> np.ndarray:
    """The square wave along which the loop runs: --setpoint's levels, else the built-in
    plant's own, else DEFAULT_LEVELS; shape (steps,), or (steps, dim) for a MIMO plant."""
    if args.setpoint is None and isinstance(plant, str):
        return schedule(plant, steps)
    cls = plants.plant_class(plant) if isinstance(plant, str) else None
    wave = SimpleNamespace(levels=args.setpoint or DEFAULT_LEVELS,
                           dim=cls.dim if cls is not None else dim(plant))
    return schedule(wave, steps)
