"""Construction over every face: the defaults, every keyword given by name and by position,
the refusals of validation and of the form rule with their exact messages, arguments of the
wrong type with the note naming them, and orders too large to store refused before anything
is allocated. A refused construction leaves nothing behind."""

import gc
import resource

import pytest

from tests.conformance.faces import FACES, OTHER_VALUES, REFUSED_VALUES, Face
from tests.conformance.leak_loop import block_growth


def _args_for(face: Face, keyword: str):
    if keyword in ("l_y", "l_u"):
        return [o for o in face.orders if keyword in o]
    return [{keyword: OTHER_VALUES[keyword]}] if keyword in OTHER_VALUES else []


def _member_note(face: Face):
    return ["member 0"] if face.fleet else []


@pytest.mark.parametrize("face", FACES, ids=str)
def test_defaults_build_and_equal_the_signatures_defaults(face):
    import inspect
    defaults = {k: p.default for k, p in inspect.signature(face.cls).parameters.items()
                if p.default is not inspect.Parameter.empty}
    assert set(defaults) == set(face.keywords()) - {"dim", "n"}
    plain, spelled = face.make(), face.make(**defaults)
    assert face.snapshot(plain) == face.snapshot(spelled)
    assert [face.step(plain, k) for k in range(5)] == [face.step(spelled, k) for k in range(5)]


@pytest.mark.parametrize("face", FACES, ids=str)
def test_every_keyword_is_taken_by_name_and_by_position(face):
    """Each parameter given alone, by name and by position, builds the same object, and one
    that differs from the default one."""
    import inspect
    names = list(inspect.signature(face.cls).parameters)
    defaults = face.make()
    for keyword in face.keywords():
        for kwargs in _args_for(face, keyword):
            by_name = face.make(**kwargs)
            full = {n: p.default for n, p in inspect.signature(face.cls).parameters.items()
                    if p.default is not inspect.Parameter.empty}
            full.update(kwargs)
            positional = [*face.lead, *(full[n] for n in names[len(face.lead):])]
            by_position = face.cls(*positional)
            assert face.snapshot(by_name) == face.snapshot(by_position), kwargs
            runs = [[face.step(o, k) for k in range(4)] for o in (by_name, by_position, defaults)]
            assert runs[0] == runs[1], kwargs
            if face.family != "mimo":  # the printed form of a MIMO object shows its dim alone
                assert face.snapshot(by_name) != face.snapshot(face.make()), kwargs


def _refusals(face: Face):
    keywords = set(face.keywords())
    return [(k, kw, msg) for k, (kw, msg) in REFUSED_VALUES.items() if set(kw) <= keywords]


@pytest.mark.parametrize("face", FACES, ids=str)
def test_refused_values_give_the_validation_messages(face):
    refusals = _refusals(face)
    assert len(refusals) >= 7
    for label, kwargs, message in refusals:
        with pytest.raises(ValueError) as info:
            face.make(**kwargs)
        assert str(info.value) == message, label
        assert getattr(info.value, "__notes__", []) == _member_note(face), label


@pytest.mark.parametrize("face", FACES, ids=str)
def test_the_form_rule_runs_after_validation(face):
    assert face.refused_orders
    for orders in face.refused_orders:
        with pytest.raises(ValueError) as info:
            face.make(**orders)
        assert str(info.value) == face.form_message, orders
        with pytest.raises(ValueError) as info:
            face.make(eta=0.0, **orders)
        assert str(info.value) == "eta 必须满足 0 < eta <= 2", orders


class Strange:
    """Converts to nothing: neither a float nor an index."""


@pytest.mark.parametrize("face", FACES, ids=str)
@pytest.mark.parametrize("value", ["1.0", Strange(), 1.0j], ids=["str", "object", "complex"])
def test_arguments_of_the_wrong_type_are_named(face, value):
    import inspect
    for keyword in face.keywords():
        if keyword in ("u_min", "u_max") and value is None:
            continue
        with pytest.raises(TypeError) as info:
            face.make(**{keyword: value}) if keyword not in ("dim", "n") else face.cls(value)
        assert f"while processing '{keyword}'" in getattr(info.value, "__notes__", []), keyword
    # Orders are integers: a float is refused even when it is whole.
    for keyword in ("l_y", "l_u"):
        with pytest.raises(TypeError):
            face.make(**{keyword: 1.0})
    params = inspect.signature(face.cls).parameters
    with pytest.raises(TypeError):
        face.cls(*face.lead, *(p.default for p in list(params.values())[len(face.lead):]), 0.0)
    with pytest.raises(TypeError):
        face.make(no_such_parameter=1.0)


@pytest.mark.parametrize("face", [f for f in FACES if f.huge], ids=str)
def test_sizes_too_large_to_store_are_refused_before_allocating(face):
    """Refused with OverflowError or MemoryError without touching the memory (the resident
    high-water mark stays put), and without keeping anything of the attempt."""
    def attempt(kwargs):
        if "n" in kwargs:  # the member count, then the face's other leading arguments
            return face.cls(kwargs["n"], *face.lead[1:])
        if "dim" in kwargs:
            return face.cls(*kwargs.values())
        return face.make(**kwargs)

    for kwargs, errors in face.huge:
        with pytest.raises(errors):
            attempt(kwargs)
    def attempt_all():
        for _ in range(200):
            for kwargs, errors in face.huge:
                try:
                    attempt(kwargs)
                except errors:
                    pass

    gc.collect()
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    assert block_growth(attempt_all, 100) < 100
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - peak < 32 * 1024  # kB


@pytest.mark.parametrize("face", FACES, ids=str)
def test_a_refused_construction_keeps_nothing(face):
    refusals = [kw for _, kw, _ in _refusals(face)] + list(face.refused_orders)
    refusals += [{"eta": Strange()}, {"u0": "x"}]

    def refuse_all():
        for kwargs in refusals:
            try:
                face.make(**kwargs)
            except (ValueError, TypeError):
                pass
            else:
                raise AssertionError(kwargs)

    for _ in range(50):
        refuse_all()
    assert block_growth(lambda: [refuse_all() for _ in range(500)], 100) < 100
