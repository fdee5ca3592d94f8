"""mimo_fleet_peers.py — what a user would otherwise write to step many MIMO controllers at
once: the same update batched over members in NumPy, every matrix product one einsum over
the member axis, the compact form's determinants one np.linalg.det over the members. It
follows the single controllers' steps (to rounding: NumPy chooses its own order of sums and
its own LU) and stands beside vorn's MIMO fleets in the benchmark."""

from __future__ import annotations

import numpy as np


class NumpyMimoFleet:
    """n MIMO controllers of one form and dim with the class defaults. Layers have shape
    (n, layers, dim, dim) and pair with the increments of shape (n, layers, dim), newest
    first: in the full form the l_y output layers, then the input layers; layer n_y is the
    lead one, whose transpose drives the control law."""

    def __init__(self, n: int, dim: int, form: str = "pfdl", l_y: int = 0, l_u: int = 2):
        self.compact = form == "cfdl"
        self.n_y = l_y if form == "ffdl" else 0
        n_u = 1 if self.compact else l_u
        self.eta, self.mu, self.rho, self.lam, self.eps = 1.0, 1.0, 0.5, 0.02, 1e-5
        self.m_upper, self.m_lower = 1e6, 1e-6
        self.initial = 0.5 * np.eye(dim)
        self.det0 = np.linalg.det(self.initial)
        pairs = self.n_y + n_u
        self.layers = np.broadcast_to(self.initial, (n, pairs, dim, dim)).copy()
        self.hist = np.zeros((n, pairs, dim))
        self.others = [m for m in range(pairs) if m != self.n_y]  # every layer but the lead one
        self.y_prev, self.u_prev = np.zeros((n, dim)), np.zeros((n, dim))

    def _out_of_bounds(self, a: np.ndarray) -> np.ndarray:
        n2 = np.einsum("...ij,...ij->...", a, a)
        return (n2 > self.m_upper ** 2) | (n2 < self.m_lower ** 2)

    def update(self, y: np.ndarray, yd: np.ndarray) -> np.ndarray:
        A, h, ny = self.layers, self.hist, self.n_y
        dy = y - self.y_prev
        e = yd - y
        # Feed-forward of the other layers on the increments they pair with after the shift:
        # this call's Δy for the newest output layer, else the entry before their own.
        after_shift = np.concatenate([dy[:, None], h[:, :-1]], axis=1)
        s = np.einsum("nmij,nmj->ni", A[:, self.others], after_shift[:, self.others])
        pred = np.einsum("nmij,nmj->ni", A, h)
        w = e - s
        lead = A[:, ny]
        g = self.rho / (self.lam + np.einsum("nij,nij->n", lead, lead))
        du = g[:, None] * np.einsum("nji,nj->ni", lead, w)
        self.u_prev = self.u_prev + du
        r = dy - pred
        d = self.mu + np.einsum("nmj,nmj->n", h, h)
        corrects = d > self.eps
        f = np.where(corrects, self.eta / d, 0.0)
        A += f[:, None, None, None] * np.einsum("ni,nmj->nmij", r, h)
        if self.compact:
            small = np.sqrt(np.einsum("ni,ni->n", du, du)) <= self.eps
            reset = small | self._out_of_bounds(A[:, 0])
            if abs(self.det0) > self.eps:
                reset |= np.signbit(np.linalg.det(A[:, 0])) != np.signbit(self.det0)
            A[reset, 0] = self.initial
        else:
            A[self._out_of_bounds(A) & corrects[:, None]] = self.initial
        h[:, 1:ny] = h[:, : max(ny - 1, 0)].copy()
        if ny:
            h[:, 0] = dy
        h[:, ny + 1:] = h[:, ny:-1].copy()
        h[:, ny] = du
        self.y_prev = y.copy()
        return self.u_prev
