"""NumPy arrays and scalars wherever sequences of floats and floats are taken: the results equal
those of plain Python values bit for bit."""

import pytest

import vorn

np = pytest.importorskip("numpy")

SISO = [vorn.CFDLController, vorn.PFDLController, vorn.FFDLController]
MIMO = [vorn.MimoCfdlController, vorn.MimoPfdlController, vorn.MimoFfdlController]
# Outputs exact in every scalar type they are given as, so both runs see the same numbers.
FRACTIONS = [0.0, 0.25, 0.5, 0.625, 0.75, 0.875]
WHOLE = [0, 1, 2, 2, 1, 1]


def _u(result):
    return result[0] if isinstance(result, tuple) else result


@pytest.mark.parametrize("cls", SISO)
@pytest.mark.parametrize("scalar, outputs", [(np.float64, FRACTIONS), (np.float32, FRACTIONS), (np.int64, WHOLE)])
def test_siso_updates_with_numpy_scalars(cls, scalar, outputs):
    plain, numpy_fed = cls(eta=0.5, rho=0.25), cls(eta=np.float32(0.5), rho=np.float64(0.25))
    for y in outputs:
        assert _u(numpy_fed.update(scalar(y), scalar(1))) == _u(plain.update(float(y), 1.0))
    assert numpy_fed.get_phi() == plain.get_phi()


@pytest.mark.parametrize("cls", SISO[1:])
def test_vector_setters_take_arrays(cls):
    c = cls()
    c.set_phi_hat(np.array([0.25, 0.5, 0.75]))
    assert c.get_phi() == [0.25, 0.5, 0.75]
    initial = np.array([0.7, 0.8, 0.9], dtype=np.float32)
    c.set_initial_phi(initial)
    c.reset()
    assert c.get_phi() == [float(v) for v in initial]
    assert repr(c).endswith(f"initial_phi={float(np.float32(0.7)):.4f}, u0=0.0000)")


def test_rho_vector_takes_an_array():
    c = vorn.FFDLController()
    c.set_rho_vector(np.array([1.0, 0.5, 0.5]))
    assert c.__getstate__()["rho_vector"] == [1.0, 0.5, 0.5]


@pytest.mark.parametrize("order_type", [np.int64, np.uint64, np.int8])
def test_pseudo_orders_take_numpy_integers(order_type):
    c = vorn.PFDLController(l_u=order_type(3))
    assert len(c.get_phi()) == 3


def test_numpy_float_for_a_pseudo_order_is_refused():
    with pytest.raises(TypeError) as info:
        vorn.PFDLController(l_u=np.float64(2.0))
    assert info.value.__notes__ == ["while processing 'l_u'"]


@pytest.mark.parametrize("cls", MIMO)
def test_mimo_updates_with_arrays(cls):
    plain, numpy_fed = cls(2), cls(np.int64(2))
    yd = [1.0, 2.0]
    for y in ([0.0, 0.0], [0.3, 0.6], [0.5, 1.1], [0.7, 1.5]):
        assert numpy_fed.update(np.array(y), np.array(yd, dtype=np.float32)) == plain.update(y, yd)
    assert numpy_fed.get_phi() == plain.get_phi()


@pytest.mark.parametrize("cls", MIMO)
def test_mimo_layers_from_a_3d_array(cls):
    c = cls(2)
    layers = len(c.get_phi())
    phi = np.arange(layers * 4, dtype=float).reshape(layers, 2, 2) + 1.0
    c.set_phi_hat(phi)
    assert c.get_phi() == phi.tolist()


def test_mimo_layer_shape_is_checked_on_arrays():
    with pytest.raises(ValueError, match="^phi 列数 3 ≠ dim 2$"):
        vorn.MimoCfdlController(2).set_phi_hat(np.zeros((1, 2, 3)))


def test_tuning_functions_take_numpy_values():
    assert vorn.pid_to_pfdl(np.float64(1.0), np.int32(1), np.float32(0.25), 0.5, order=np.int64(2)) == [-0.5, 1.5]
    c = vorn.PFDLController(l_u=2)
    vorn.apply_pfdl_initial_guess(c, np.array([0.3, 0.2]))
    assert c.get_phi() == [0.3, 0.2]
    f = vorn.FFDLController(l_u=1)
    assert vorn.ffdl_zn_tuning(f, np.float64(1.0), 4.0, np.float32(2.0), 0.5) == [1.9440000000000002, 0.0405]


def test_numpy_bool_for_the_loader():
    assert vorn.load_config_from_yaml(np.bool_(False)) == (1.0, 1.0, 0.1, 0.02, 1e-05, 0, 1, 0.5, 0.0, None, None)

