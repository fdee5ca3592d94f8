"""The type stubs against the running module over every face: the constructor and every
public method have, in the stub, the parameters of the runtime signature, in order, of the
same kind and with the same defaults."""

import ast
import inspect
import pathlib

import pytest

from tests.conformance.faces import FACES, Face

STUBS = pathlib.Path(__file__).resolve().parents[2] / "src" / "vorn"


def _stub_classes(module: str):
    tree = ast.parse((STUBS / f"{module.rsplit('.', 1)[1]}.pyi").read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def _stub_methods(face: Face):
    """The stub's functions of the class, its stub-only bases' included."""
    classes = _stub_classes(face.cls.__module__)

    def collect(name):
        node = classes[name]
        found = {}
        for base in node.bases:
            base_name = base.value.id if isinstance(base, ast.Subscript) else getattr(base, "id", None)
            if base_name in classes:
                found.update(collect(base_name))
        found.update({item.name: item for item in node.body if isinstance(item, ast.FunctionDef)})
        return found

    return collect(face.cls.__name__)


def _stub_parameters(fn: ast.FunctionDef):
    args = fn.args
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    out = []
    for i, (a, d) in enumerate(zip(positional, defaults)):
        kind = "positional-only" if i < len(args.posonlyargs) else "positional-or-keyword"
        out.append((a.arg, kind, None if d is None else repr(ast.literal_eval(d))))
    for a, d in zip(args.kwonlyargs, args.kw_defaults):
        out.append((a.arg, "keyword-only", None if d is None else repr(ast.literal_eval(d))))
    return out[1:] if out and out[0][0] in ("self", "cls") else out


def _runtime_parameters(obj):
    kinds = {inspect.Parameter.POSITIONAL_ONLY: "positional-only",
             inspect.Parameter.POSITIONAL_OR_KEYWORD: "positional-or-keyword",
             inspect.Parameter.KEYWORD_ONLY: "keyword-only"}
    params = list(inspect.signature(obj).parameters.values())
    if params and params[0].name in ("self", "cls", "$self", "$cls"):
        params = params[1:]
    return [(p.name, kinds[p.kind], None if p.default is inspect.Parameter.empty else repr(p.default))
            for p in params]


def _public(face: Face):
    for name, value in vars(face.cls).items():
        if callable(value) and (not name.startswith("_") or name in ("__getnewargs__", "__getstate__",
                                                                      "__setstate__")):
            yield name


@pytest.mark.parametrize("face", FACES, ids=str)
def test_the_constructor_of_the_stub_is_the_runtime_one(face):
    methods = _stub_methods(face)
    stub = methods.get("__new__") or methods["__init__"]
    assert _stub_parameters(stub) == _runtime_parameters(face.cls)


@pytest.mark.parametrize("face", FACES, ids=str)
def test_every_method_of_the_stub_is_the_runtime_one(face):
    methods = _stub_methods(face)
    names = list(_public(face))
    assert names
    for name in names:
        assert name in methods, f"{face}.{name} is not in the stub"
        runtime = getattr(face.cls, name)
        try:
            inspect.signature(runtime)
        except ValueError:
            pytest.fail(f"{face}.{name} has no text signature")
        assert _stub_parameters(methods[name]) == _runtime_parameters(runtime), name
