"""fleet_peers.py — what a user would otherwise write to step many controllers at once: the
same step over NumPy arrays (one array operation per formula), and a loop over members
compiled by numba (when installed). Both follow the single controllers' order of
operations; they stand beside vorn's fleets in the benchmark."""

from __future__ import annotations

import functools
import importlib.util

import numpy as np


def have_numba() -> bool:
    return importlib.util.find_spec("numba") is not None


class NumpyFleet:
    """n controllers of one form with the class defaults, every formula one array operation;
    vectors component-major, shape (m, n). `l_y` is None for the compact form."""

    def __init__(self, n: int, l_y: int | None, l_u: int, full: bool):
        self.compact, self.full, self.l_y, self.l_u = l_y is None, full, l_y or 0, l_u
        m = 1 if self.compact else (self.l_y + l_u if full else l_u)
        self.eta, self.mu, self.rho = np.full(n, 1.0), np.full(n, 1.0), np.full(n, 0.1)
        self.lam, self.eps = np.full(n, 0.02), np.full(n, 1e-5)
        self.u_min, self.u_max = np.full(n, -10.0), np.full(n, 10.0)
        self.phi, self.reset_value = np.full((m, n), 0.5), np.full((m, n), 0.5)
        self.u_hist = np.zeros((l_u + 1, n))
        self.y_hist = np.zeros(((self.l_y if full else 0) + 1, n))

    def state_arrays(self) -> list[np.ndarray]:
        return [self.eta, self.mu, self.rho, self.lam, self.eps, self.u_min, self.u_max, self.phi,
                self.reset_value, self.u_hist, self.y_hist]

    def update(self, y: np.ndarray, yd) -> np.ndarray:
        uh, yh, phi = self.u_hist, self.y_hist, self.phi
        if self.compact:
            dy, du = y - yh[0], uh[0] - uh[1]
            t = (dy - du * phi[0]) * self.eta * du / (du * du + self.mu) + phi[0]
            reset = (np.abs(t) <= self.eps) | (np.abs(du) <= self.eps)
            phi[0] = np.where(reset, self.reset_value[0], t)
            u = ((self.rho * phi[0]) * (yd - y)) / (phi[0] * phi[0] + self.lam) + uh[0]
        else:
            ly = self.l_y if self.full else 0
            dh = np.concatenate([yh[:-1] - yh[1:], uh[:-1] - uh[1:]]) if ly else uh[:-1] - uh[1:]
            norm2 = (dh * dh).sum(axis=0)
            dot = (phi * dh).sum(axis=0)
            step = ((y - yh[0] - dot) * self.eta) / (self.mu + norm2)
            cand = dh * step + phi
            s = ly
            reset = ((self.eps * self.eps >= norm2) | (self.eps >= np.abs(cand[s]))
                     | ((cand[s] >= 0) != (self.reset_value[s] >= 0)))
            phi[:] = np.where(reset, self.reset_value, cand)
            f = phi[s]
            c = (phi[0] * (y - yh[0]) + (phi[1:ly] * (yh[:ly - 1] - yh[1:ly])).sum(axis=0)) if ly else 0.0
            d = (phi[ly + 1:] * (uh[:self.l_u - 1] - uh[1:self.l_u])).sum(axis=0) if self.l_u > 1 else 0.0
            u = ((yd - y - c - d) * (self.rho * f)) / (f * f + self.lam) + uh[0]
        u = np.fmin(np.fmax(u, self.u_min), self.u_max)
        uh[1:] = uh[:-1]
        uh[0] = u
        yh[1:] = yh[:-1]
        yh[0] = y
        return u


@functools.cache
def numba_steps():
    """The numba-compiled member loops (compact form; partial and full form over pseudo-orders)."""
    import numba

    @numba.njit(cache=False, fastmath=False)
    def cfdl(y, yd, eta, mu, rho, lam, eps, lo, hi, phi, reset_value, y_prev, u_prev, u_prev2, u):
        for i in range(y.shape[0]):
            dy = y[i] - y_prev[i]
            du = u_prev[i] - u_prev2[i]
            t = dy - du * phi[i]
            t = t * eta[i]
            t = t * du
            t = t / (du * du + mu[i])
            t = t + phi[i]
            p = reset_value[i] if (abs(t) <= eps[i] or abs(du) <= eps[i]) else t
            phi[i] = p
            v = ((rho[i] * p) * (yd - y[i])) / (p * p + lam[i]) + u_prev[i]
            v = max(v, lo[i])
            v = min(v, hi[i])
            u[i] = v
            u_prev2[i] = u_prev[i]
            u_prev[i] = v
            y_prev[i] = y[i]

    @numba.njit(cache=False, fastmath=False)
    def vector(y, yd, l_y, l_u, eta, mu, rho, lam, eps, lo, hi, phi, reset_value, u_hist, y_hist, u):
        m = phi.shape[0]
        dh = np.empty(m)
        for i in range(y.shape[0]):
            for k in range(m):
                dh[k] = y_hist[k, i] - y_hist[k + 1, i] if k < l_y else u_hist[k - l_y, i] - u_hist[k - l_y + 1, i]
            norm2 = -0.0
            dot = -0.0
            for k in range(m):
                norm2 = norm2 + dh[k] * dh[k]
            for k in range(m):
                dot = dot + phi[k, i] * dh[k]
            step = ((y[i] - y_hist[0, i] - dot) * eta[i]) / (mu[i] + norm2)
            c_s = dh[l_y] * step + phi[l_y, i]
            if eps[i] * eps[i] >= norm2 or eps[i] >= abs(c_s) or (c_s >= 0) != (reset_value[l_y, i] >= 0):
                for k in range(m):
                    phi[k, i] = reset_value[k, i]
            else:
                for k in range(m):
                    phi[k, i] = dh[k] * step + phi[k, i]
            c = -0.0 if l_y >= 1 else 0.0
            for k in range(l_y):
                c = c + phi[k, i] * ((y[i] if k == 0 else y_hist[k - 1, i]) - y_hist[k, i])
            d = -0.0 if l_u >= 2 else 0.0
            for j in range(l_u - 1):
                d = d + phi[l_y + 1 + j, i] * (u_hist[j, i] - u_hist[j + 1, i])
            f = phi[l_y, i]
            v = ((yd - y[i] - c - d) * (rho[i] * f)) / (lam[i] + f * f) + u_hist[0, i]
            v = min(max(v, lo[i]), hi[i])
            u[i] = v
            for j in range(l_u, 0, -1):
                u_hist[j, i] = u_hist[j - 1, i]
            u_hist[0, i] = v
            for k in range(y_hist.shape[0] - 1, 0, -1):
                y_hist[k, i] = y_hist[k - 1, i]
            y_hist[0, i] = y[i]

    return cfdl, vector


class NumbaFleet(NumpyFleet):
    """The same arrays, stepped by a numba loop over members."""

    def __init__(self, n: int, l_y: int | None, l_u: int, full: bool):
        super().__init__(n, l_y, l_u, full)
        self._cfdl, self._vector = numba_steps()
        self.u = np.empty(n)
        self.update(np.zeros(n), 1.0)  # compiles
        super().__init__(n, l_y, l_u, full)  # back to the state after construction

    def update(self, y: np.ndarray, yd) -> np.ndarray:
        if self.compact:
            self._cfdl(y, yd, self.eta, self.mu, self.rho, self.lam, self.eps, self.u_min, self.u_max, self.phi[0],
                       self.reset_value[0], self.y_hist[0], self.u_hist[0], self.u_hist[1], self.u)
        else:
            self._vector(y, yd, self.l_y if self.full else 0, self.l_u, self.eta, self.mu, self.rho, self.lam,
                         self.eps, self.u_min, self.u_max, self.phi, self.reset_value, self.u_hist, self.y_hist,
                         self.u)
        return self.u
