"""Random method sequences with random arguments over the fleet faces (the single classes'
are tests/test_properties.py's, whose argument strategies these reuse): nothing crashes,
every refusal is one of the documented exception types and leaves the fleet exactly as it
was, and a twin given only the accepted calls (pickled at random points) agrees bit for bit."""

import pickle

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tests.conformance.faces import FLEETS, MIMO_DIM, MIMO_FLEETS
from tests.running import LONG, SANITIZED
from tests.test_properties import ALLOWED, STEPS, check_refusal, reals, vectors

pytestmark = pytest.mark.filterwarnings("ignore:Warning. converting a masked element:UserWarning")
N = 3
# Fewer examples than the single classes' sequences: each step of a fleet checks more.
SETTINGS = settings(max_examples=300 if LONG else 6 if SANITIZED else 12, deadline=None, database=None,
                    suppress_health_check=list(HealthCheck))


def arrays(shape):
    good = st.lists(st.floats(-4.0, 4.0), min_size=int(np.prod(shape)), max_size=int(np.prod(shape))).map(
        lambda xs: np.array(xs).reshape(shape))
    return st.one_of(good, good, good, good.map(lambda a: a.tolist()), reals, vectors())


@st.composite
def operation(draw, fleet):
    m = fleet.get_phi().shape[1]
    name = draw(st.sampled_from(["update", "update", "update_logged", "update_out", "reset", "set_phi_hat",
                                 "set_initial_phi", "set_eta", "set_rho", "set_u_min", "set_u_max", "setstate",
                                 "twin"] + (["set_rho_vector"] if hasattr(fleet, "set_rho_vector") else [])))
    if name in ("update", "update_logged", "update_out"):
        y, yd = draw(arrays((N,))), draw(st.one_of(st.floats(-2, 2), arrays((N,))))
        if name == "update_out":
            out = draw(st.sampled_from([np.zeros(N), np.zeros(N + 1), np.zeros(N, np.float32)]))
            return name, lambda f: np.array(f.update(y, yd, out=out.copy()))
        return name, lambda f: getattr(f, name)(y, yd)
    if name == "reset":
        return name, lambda f: f.reset()
    if name in ("set_phi_hat", "set_initial_phi", "set_rho_vector"):
        value = draw(st.one_of(arrays((N, m)), arrays((m,))))
        return name, lambda f: getattr(f, name)(value)
    if name in ("set_eta", "set_rho", "set_u_min", "set_u_max"):
        value = draw(st.one_of(st.none(), arrays((N,))))
        return name, lambda f: getattr(f, name)(value)
    if name == "setstate":
        state = fleet.__getstate__()
        key = draw(st.sampled_from(sorted(state)))
        state[key] = draw(st.one_of(st.just(state[key]), reals, arrays((N,)), arrays((N, m))))
        return name, lambda f: f.__setstate__(dict(state))
    return name, None


@st.composite
def mimo_operation(draw, fleet):
    layers, dim = fleet.get_phi().shape[1], MIMO_DIM
    name = draw(st.sampled_from(["update", "update", "update_out", "reset", "set_phi_hat", "set_initial_phi",
                                 "set_eta", "set_rho", "set_m_upper", "set_m_lower", "setstate", "twin"]))
    if name in ("update", "update_out"):
        y, yd = draw(arrays((N, dim))), draw(st.one_of(arrays((dim,)), arrays((N, dim))))
        if name == "update_out":
            out = draw(st.sampled_from([np.zeros((N, dim)), np.zeros((N, dim + 1)), np.zeros((N, dim), np.float32)]))
            return name, lambda f: np.array(f.update(y, yd, out=out.copy()))
        return name, lambda f: f.update(y, yd)
    if name == "reset":
        return name, lambda f: f.reset()
    if name == "set_phi_hat":
        value = draw(st.one_of(arrays((N, layers, dim, dim)), arrays((layers, dim, dim)), arrays((N, layers + 1, dim, dim))))
        return name, lambda f: f.set_phi_hat(value)
    if name == "setstate":
        state = fleet.__getstate__()
        key = draw(st.sampled_from(sorted(state)))
        state[key] = draw(st.one_of(st.just(state[key]), reals, arrays((N,)), arrays((N, dim))))
        return name, lambda f: f.__setstate__(dict(state))
    if name == "twin":
        return name, None
    value = draw(st.one_of(reals, arrays((N,))))
    return name, lambda f: getattr(f, name)(value)


@pytest.mark.parametrize("face", FLEETS + MIMO_FLEETS, ids=str)
@SETTINGS
@given(data=st.data())
def test_fleet_sequences(face, data):
    fleet, twin = face.make(N, *face.lead[1:]), face.make(N, *face.lead[1:])
    operation_of = mimo_operation if face.mimo else operation
    for _ in range(data.draw(st.integers(1, STEPS))):
        name, fn = data.draw(operation_of(fleet))
        if fn is None:
            try:
                twin = pickle.loads(pickle.dumps(twin))
            except ValueError as e:  # a setter stored a value its members' class refuses to unpickle
                assert getattr(e, "__notes__", [""])[0].startswith("member ")
            continue
        before = face.snapshot(fleet)
        try:
            result, error = fn(fleet), None
        except ALLOWED as e:
            result, error = None, e
        if error is not None:
            check_refusal(error, f"{face}.{name}")
            assert face.snapshot(fleet) == before, f"{face}.{name} was refused but changed the fleet"
            continue
        assert pickle.dumps(fn(twin)) == pickle.dumps(result), name
        assert face.snapshot(twin) == face.snapshot(fleet), f"{face}.{name}: twin diverged"
