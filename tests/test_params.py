"""vorn.params: a SISO controller's constructor arguments and state, read as a dict."""

import pickle

import pytest

import vorn
from vorn.parameters import ARG_NAMES

DYNAMIC = {
    vorn.CFDLController: ["y_prev", "u_prev", "u_prev2", "phi_hat"],
    vorn.PFDLController: ["y_prev", "u_hist", "phi_hat"],
    vorn.FFDLController: ["y_hist", "u_hist", "phi_hat", "rho_vector"],
}


@pytest.mark.parametrize("cls", list(DYNAMIC))
def test_params_name_every_argument_and_the_dynamic_state(cls):
    c = cls(rho=0.3, lambda_=0.4, u_max=2.0)
    c.update(0.2, 1.0)
    p = vorn.params(c)
    assert list(p) == list(ARG_NAMES) + DYNAMIC[cls]
    assert (p["rho"], p["lambda_"], p["u_min"], p["u_max"]) == (0.3, 0.4, None, 2.0)
    assert p["phi_hat"] == c.__getstate__()["phi_hat"]


@pytest.mark.parametrize("cls", list(DYNAMIC))
def test_params_rebuild_an_equal_controller(cls):
    c = cls(eta=0.7, eps=1e-3, initial_phi=-0.2, u0=0.5, u_min=-1.0)
    p = vorn.params(c)
    twin = cls(**{k: p[k] for k in ARG_NAMES})
    assert vorn.params(twin) == p
    assert pickle.loads(pickle.dumps(c)).update(0.1, 1.0) == twin.update(0.1, 1.0)


def test_params_show_values_stored_by_setters():
    c = vorn.FFDLController(l_y=1, l_u=1)
    c.set_eta(5.0)
    c.set_rho_vector([1.0, 0.5])
    p = vorn.params(c)
    assert p["eta"] == 5.0 and p["rho_vector"] == [1.0, 0.5]
    p["phi_hat"][0] = 99.0  # a copy
    assert c.get_phi() == [0.5, 0.5]


@pytest.mark.parametrize("other", [vorn.MimoCfdlController(2), object(), None, vorn.PFDLController])
def test_params_refuse_anything_but_a_siso_controller(other):
    with pytest.raises(TypeError, match="params\\(\\) takes a CFDLController, PFDLController or FFDLController"):
        vorn.params(other)
