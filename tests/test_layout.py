"""The package's layout: imports flow one way (no circles, no module importing a layer above
its own), no attribute of a package hides a submodule of the same name, and `dir(vorn)`
shows the public names and the subpackages its docstring documents, nothing else."""

import ast
import importlib
import pathlib
import pkgutil
import re

import pytest

import vorn

SRC = pathlib.Path(vorn.__file__).resolve().parent


def _modules():
    names = ["vorn"]
    for info in pkgutil.walk_packages(vorn.__path__, "vorn."):
        if not info.name.split(".")[-1].startswith("_vorn"):
            names.append(info.name)
    return names


def _imports(name):
    """The vorn modules that module `name` imports, at its top or inside its functions."""
    module = importlib.import_module(name)
    tree = ast.parse(pathlib.Path(module.__file__).read_text(encoding="utf-8"))
    typing_only = {id(n) for block in ast.walk(tree) if isinstance(block, ast.If)
                   and isinstance(block.test, ast.Name) and block.test.id == "TYPE_CHECKING"
                   for n in ast.walk(block)}
    found = set()
    for node in ast.walk(tree):
        if id(node) in typing_only:
            continue
        if isinstance(node, ast.ImportFrom) and node.module and node.module.startswith("vorn"):
            found.add(node.module)
            for alias in node.names:
                if f"{node.module}.{alias.name}" in MODULES:
                    found.add(f"{node.module}.{alias.name}")
        elif isinstance(node, ast.Import):
            found.update(a.name for a in node.names if a.name.startswith("vorn"))
    # Typing-only imports and the package itself do not count.
    return {m for m in found if m in MODULES and m != name and m != "vorn"}


MODULES = _modules()


def test_the_imports_have_no_circle():
    graph = {name: _imports(name) for name in MODULES if name != "vorn"}
    state = {}

    def visit(node, path):
        if state.get(node) == "done":
            return
        assert state.get(node) != "open", f"import circle: {' -> '.join(path + [node])}"
        state[node] = "open"
        for target in graph.get(node, ()):
            # A module importing its own package's __init__ (the package's table of contents)
            # is not a dependency on its siblings.
            if not node.startswith(target + "."):
                visit(target, path + [node])
        state[node] = "done"

    for name in graph:
        visit(name, [])


def test_no_module_imports_the_command_line_or_the_demo_from_below():
    # The command line sits on top; the demo above the loops, below the command line.
    for name in MODULES:
        targets = _imports(name)
        if not name.startswith(("vorn.cli", "vorn.__main__")):
            assert not any(t.startswith("vorn.cli") for t in targets), (name, targets)
        if name.startswith(("vorn.loop", "vorn.tuning", "vorn.forms", "vorn.plants")):
            assert "vorn.demo" not in targets, name
        if name.startswith("vorn.loop"):
            assert not any(t.startswith("vorn.tuning") for t in targets), (name, targets)


@pytest.mark.parametrize("package", [m for m in MODULES
                                     if hasattr(importlib.import_module(m), "__path__")])
def test_no_attribute_hides_a_submodule(package):
    module = importlib.import_module(package)
    for info in pkgutil.iter_modules(module.__path__):
        full = f"{package}.{info.name}"
        if info.name.startswith("_vorn"):
            continue
        importlib.import_module(full)
        assert getattr(module, info.name) is importlib.import_module(full), f"{full} is hidden"


def test_dir_shows_only_public_names_and_documented_submodules():
    documented = set(re.findall(r"^    ([a-z_]+)  ", vorn.__doc__, flags=re.M))
    public = set(vorn.__all__) | {"__version__"}
    for name in dir(vorn):
        if name.startswith("_") or name in public:
            continue
        value = getattr(vorn, name)
        assert type(value).__name__ == "module", f"vorn.{name} is not in __all__"
        assert name in documented, f"the submodule vorn.{name} is not documented in vorn's docstring"
    assert vorn.messages.explain  # available after `import vorn` alone
