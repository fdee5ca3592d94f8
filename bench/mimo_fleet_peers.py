"""mimo_fleet_peers.py — what a user would otherwise write to step many MIMO controllers of
the partial form at once: the same update batched over members in NumPy, every matrix
product one einsum over the member axis. It follows the single controller's steps and
stands beside vorn's MIMO fleets in the benchmark."""

from __future__ import annotations

import numpy as np


class NumpyMimoPfdlFleet:
    """n partial-form MIMO controllers of one dim with the class defaults. Layers have shape
    (n, l_u, dim, dim), layer 0 the lead one; histories (n, l_u, dim), newest first."""

    def __init__(self, n: int, dim: int, l_u: int = 2):
        self.eta, self.mu, self.rho, self.lam, self.eps = 1.0, 1.0, 0.5, 0.02, 1e-5
        self.m_upper, self.m_lower = 1e6, 1e-6
        self.initial = 0.5 * np.eye(dim)
        self.layers = np.broadcast_to(self.initial, (n, l_u, dim, dim)).copy()
        self.hist = np.zeros((n, l_u, dim))
        self.y_prev, self.u_prev = np.zeros((n, dim)), np.zeros((n, dim))

    def update(self, y: np.ndarray, yd: np.ndarray) -> np.ndarray:
        A, h = self.layers, self.hist
        dy = y - self.y_prev
        e = yd - y
        # Feed-forward of the older layers on the regressors they get after the shift.
        s = np.einsum("nmij,nmj->ni", A[:, 1:], h[:, :-1])
        pred = np.einsum("nmij,nmj->ni", A, h)
        w = e - s
        lead = A[:, 0]
        g = self.rho / (self.lam + np.einsum("nij,nij->n", lead, lead))
        du = g[:, None] * np.einsum("nji,nj->ni", lead, w)
        self.u_prev = self.u_prev + du
        r = dy - pred
        d = self.mu + np.einsum("nmj,nmj->n", h, h)
        f = np.where(d > self.eps, self.eta / d, 0.0)
        A += f[:, None, None, None] * np.einsum("ni,nmj->nmij", r, h)
        n2 = np.einsum("nmij,nmij->nm", A, A)
        out = (n2 > self.m_upper ** 2) | (n2 < self.m_lower ** 2)
        A[out] = self.initial
        h[:, 1:] = h[:, :-1].copy()
        h[:, 0] = du
        self.y_prev = y.copy()
        return self.u_prev
