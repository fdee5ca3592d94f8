"""Plain-Python models of the controllers, against which the module is checked and timed.

The SISO models (CfdlModel, PfdlModel, FfdlModel) and the MIMO model (MimoModel, all three
forms) perform every operation in the order the module does, so they agree with it bit
for bit. Python's sum() is avoided on purpose: it compensates rounding errors, which
would change the last bits. MimoPfdlNumpy is the partial-form MIMO update as a NumPy user
would write it: NumPy chooses the order of its sums, so it agrees to rounding only.
The benchmark suite times the module against these (bench/peers.py).
"""

from __future__ import annotations

import math


# --- SISO --------------------------------------------------------------------------------

def _clamp(u, u_min, u_max):
    # Lower limit first, then upper; a NaN operand yields the other one.
    if u_min is not None and (u != u or u < u_min):
        u = u_min
    if u_max is not None and (u != u or u > u_max):
        u = u_max
    return u


class CfdlModel:
    """The compact form: one scalar pseudo partial derivative."""

    def __init__(self, eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, initial_phi=0.5, u0=0.0,
                 u_min=None, u_max=None):
        self.eta, self.mu, self.rho, self.lambda_, self.eps = eta, mu, rho, lambda_, eps
        self.u_min, self.u_max = u_min, u_max
        self.phi_hat = self.phi_reset = initial_phi
        self.y_prev = 0.0
        self.u_prev = self.u_prev2 = u0

    def update(self, y, yd):
        """Returns (u, delta_y, delta_u, e, phi)."""
        dy = y - self.y_prev
        du = self.u_prev - self.u_prev2
        t = dy - du * self.phi_hat
        t = t * self.eta
        t = t * du
        t = t / (du * du + self.mu)
        phi = t + self.phi_hat
        if abs(phi) <= self.eps or abs(du) <= self.eps:
            phi = self.phi_reset
        self.phi_hat = phi
        e = yd - y
        u = ((self.rho * phi) * e) / (phi * phi + self.lambda_) + self.u_prev
        u = _clamp(u, self.u_min, self.u_max)
        self.u_prev2 = self.u_prev
        self.u_prev = u
        self.y_prev = y
        return (u, dy, du, e, phi)


def _estimate(phi_hat, initial, delta_y, delta_h, s, eta, mu, eps):
    """The normalised projection step and reset rule of the PPD vector; the new estimate."""
    norm2 = -0.0
    for d in delta_h:
        norm2 = norm2 + d * d
    m = min(len(delta_h), len(phi_hat))
    dot = -0.0
    for i in range(m):
        dot = dot + phi_hat[i] * delta_h[i]
    step = ((delta_y - dot) * eta) / (mu + norm2)
    if eps * eps >= norm2:
        return list(initial)
    c = [delta_h[i] * step + phi_hat[i] for i in range(m)]
    if eps >= abs(c[s]) or (c[s] >= 0.0) != (initial[s] >= 0.0):
        return list(initial)
    return c


class PfdlModel:
    """The partial form: a PPD vector over the last l_u input increments."""

    def __init__(self, eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_u=2, initial_phi=0.5, u0=0.0,
                 u_min=None, u_max=None):
        self.eta, self.mu, self.rho, self.lambda_, self.eps = eta, mu, rho, lambda_, eps
        self.l_u = l_u
        self.u_min, self.u_max = u_min, u_max
        self.initial = [initial_phi] * l_u
        self.phi_hat = list(self.initial)
        self.u_hist = [u0] * (l_u + 1)
        self.y_prev = 0.0

    def update_logged(self, y, yd):
        """Returns (u, delta_y, delta_h, e, phi)."""
        uh = self.u_hist
        delta_y = y - self.y_prev
        delta_h = [uh[j] - uh[j + 1] for j in range(self.l_u)]
        phi = _estimate(self.phi_hat, self.initial, delta_y, delta_h, 0, self.eta, self.mu, self.eps)
        self.phi_hat = phi
        d = +0.0
        if self.l_u >= 2:
            d = -0.0
            for j in range(min(self.l_u - 1, len(phi) - 1)):
                d = d + phi[j + 1] * (uh[j] - uh[j + 1])
        a = yd - y
        a = a - d
        a = a * (self.rho * phi[0])
        a = a / (phi[0] * phi[0] + self.lambda_)
        u = _clamp(a + uh[0], self.u_min, self.u_max)
        uh.pop()
        uh.insert(0, u)
        self.y_prev = y
        return (u, delta_y, delta_h, yd - y, list(phi))

    def update(self, y, yd):
        return self.update_logged(y, yd)[0]


class FfdlModel:
    """The full form: a PPD vector over the last l_y output and l_u input increments."""

    def __init__(self, eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_y=1, l_u=2, initial_phi=0.5, u0=0.0,
                 u_min=None, u_max=None):
        self.eta, self.mu, self.rho, self.lambda_, self.eps = eta, mu, rho, lambda_, eps
        self.l_y, self.l_u = l_y, l_u
        self.u_min, self.u_max = u_min, u_max
        self.initial = [initial_phi] * (l_y + l_u)
        self.phi_hat = list(self.initial)
        self.y_hist = [0.0] * (l_y + 1)
        self.u_hist = [u0] * (l_u + 1)

    def update_logged(self, y, yd):
        """Returns (u, delta_y, delta_h, e, phi)."""
        yh, uh, l_y, l_u = self.y_hist, self.u_hist, self.l_y, self.l_u
        delta_y = y - yh[0]
        delta_h = [yh[i] - yh[i + 1] for i in range(l_y)] + [uh[j] - uh[j + 1] for j in range(l_u)]
        phi = _estimate(self.phi_hat, self.initial, delta_y, delta_h, l_y, self.eta, self.mu, self.eps)
        self.phi_hat = phi
        f = phi[l_y]
        c = +0.0
        if l_y >= 1:
            c = -0.0
            c = c + phi[0] * (y - yh[0])
            for i in range(1, l_y):
                c = c + phi[i] * (yh[i - 1] - yh[i])
        d = +0.0
        if l_u >= 2:
            d = -0.0
            for j in range(l_u - 1):
                d = d + phi[l_y + 1 + j] * (uh[j] - uh[j + 1])
        a = yd - y
        a = a - c
        a = a - d
        a = a * (self.rho * f)
        a = a / (self.lambda_ + f * f)
        u = _clamp(a + uh[0], self.u_min, self.u_max)
        uh.pop()
        uh.insert(0, u)
        yh.pop()
        yh.insert(0, y)
        return (u, delta_y, delta_h, yd - y, list(phi))

    def update(self, y, yd):
        return self.update_logged(y, yd)[0]


# --- MIMO --------------------------------------------------------------------------------

def total(terms, start):
    """Plain left-to-right addition: the built-in sum() compensates rounding errors."""
    for t in terms:
        start = start + t
    return start


def matvec(a, x):
    n = len(x)
    return [total((a[i][j] * x[j] for j in range(1, n)), a[i][0] * x[0]) for i in range(n)]


def frob(a):
    n = len(a)
    return total((total((a[i][j] * a[i][j] for i in range(n)), 0.0) for j in range(n)), 0.0)


def det(a):
    """Closed forms to 3×3, then the textbook LU with partial pivoting, column by column."""
    n = len(a)
    if n == 0:
        return 1.0
    if n == 1:
        return a[0][0]
    if n == 2:
        return a[0][0] * a[1][1] - a[1][0] * a[0][1]
    if n == 3:
        t0 = a[0][0] * (a[1][1] * a[2][2] - a[2][1] * a[1][2])
        t1 = a[0][1] * (a[1][0] * a[2][2] - a[2][0] * a[1][2])
        t2 = a[0][2] * (a[1][0] * a[2][1] - a[2][0] * a[1][1])
        return t0 - t1 + t2
    lu = [row[:] for row in a]
    odd = False
    for c in range(n):
        p, best = c, abs(lu[c][c])
        for r in range(c + 1, n):
            if abs(lu[r][c]) > best:
                p, best = r, abs(lu[r][c])
        pivot = lu[p][c]
        if pivot == 0.0:
            continue
        if p != c:
            lu[p], lu[c] = lu[c], lu[p]
            odd = not odd
        for r in range(c + 1, n):
            lu[r][c] = lu[r][c] / pivot
            l = lu[r][c]
            for j in range(c + 1, n):
                lu[r][j] = lu[r][j] - l * lu[c][j]
    d = 1.0
    for i in range(n):
        d = d * lu[i][i]
    return -d if odd else d


def signum(x):
    return x if math.isnan(x) else math.copysign(1.0, x)


class MimoModel:
    """One core: layers with their increment histories in pair order (output pairs first)."""

    def __init__(self, form, dim, l_y=0, l_u=1, eta=1.0, mu=1.0, rho=0.5, lam=0.02, eps=1e-5, phi0=0.5,
                 m_up=1e6, m_lo=1e-6):
        self.form, self.dim, self.l_y, self.l_u = form, dim, l_y, l_u
        self.eta, self.mu, self.rho, self.lam, self.eps, self.m_up, self.m_lo = eta, mu, rho, lam, eps, m_up, m_lo
        self.init = [[phi0 if i == j else 0.0 for j in range(dim)] for i in range(dim)]
        self.layers = [[r[:] for r in self.init] for _ in range(l_y + l_u)]
        self.hist = [[0.0] * dim for _ in range(l_y + l_u)]
        self.y_prev, self.u_prev = [0.0] * dim, [0.0] * dim

    def restore(self, k):
        self.layers[k] = [r[:] for r in self.init]

    def bound(self, k):
        n2 = frob(self.layers[k])
        if n2 > self.m_up * self.m_up or n2 < self.m_lo * self.m_lo:
            self.restore(k)

    def update(self, y, yd):
        n, ly, lay, hist = self.dim, self.l_y, self.layers, self.hist
        dy = [a - b for a, b in zip(y, self.y_prev)]
        e = [a - b for a, b in zip(yd, y)]
        terms = ([matvec(lay[0], dy)] if ly else []) + [matvec(lay[i], hist[i - 1]) for i in range(1, ly)]
        terms += [matvec(lay[ly + j], hist[ly + j - 1]) for j in range(1, self.l_u)]
        s = [0.0] * n
        for t in terms:
            s = [a + b for a, b in zip(s, t)]
        w = [a - b for a, b in zip(e, s)]
        lead = lay[ly]
        g = self.rho / (self.lam + frob(lead))
        du = [total((lead[i][j] * w[i] for i in range(1, n)), lead[0][j] * w[0]) * g for j in range(n)] if n else []
        u = [a + b for a, b in zip(self.u_prev, du)]
        p = [0.0] * n
        for a, d in zip(lay, hist):
            p = [x + t for x, t in zip(p, matvec(a, d))]
        r = [a - b for a, b in zip(dy, p)]
        den = self.mu
        for d in hist:
            den = den + total((x * x for x in d), 0.0)
        if den > self.eps:
            f = self.eta / den
            for k, (a, d) in enumerate(zip(lay, hist)):
                for i in range(n):
                    for j in range(n):
                        a[i][j] = (r[i] * d[j]) * f + a[i][j]
                if self.form != "C":
                    self.bound(k)
        if self.form == "C":
            if math.sqrt(total((x * x for x in du), 0.0)) <= self.eps:
                self.restore(0)
            else:
                self.bound(0)
                d0 = det(self.init)
                if abs(d0) > self.eps and signum(det(lay[0])) != signum(d0):
                    self.restore(0)
        hist[:ly] = ([dy] + hist[:ly - 1]) if ly else []
        hist[ly:] = [du] + hist[ly:-1]
        self.y_prev, self.u_prev = y, u
        return u


class MimoPfdlNumpy:
    """The partial-form MIMO update over l_u pseudo-Jacobian layers, in NumPy."""

    def __init__(self, dim, eta=1.0, mu=1.0, rho=0.5, lambda_=0.02, eps=1e-5, l_u=2, initial_phi=0.5, u0=0.0,
                 m_upper=1e6, m_lower=1e-6):
        import numpy as np

        self.np = np
        self.eta, self.mu, self.rho, self.lambda_, self.eps = eta, mu, rho, lambda_, eps
        self.l_u = l_u
        self.upper2, self.lower2 = m_upper * m_upper, m_lower * m_lower
        self.initial = initial_phi * np.eye(dim)
        self.phi = np.repeat(self.initial[np.newaxis], l_u, axis=0)  # layer i pairs with hist[i]
        self.hist = np.zeros((l_u, dim))  # input increments, newest first
        self.y_prev = np.zeros(dim)
        self.u_prev = np.full(dim, float(u0))

    def update(self, y, yd):
        np = self.np
        phi, hist = self.phi, self.hist
        y = np.array(y, dtype=float)
        dy = y - self.y_prev
        w = np.asarray(yd, dtype=float) - y
        for i in range(1, self.l_u):
            w -= phi[i] @ hist[i - 1]
        lead = phi[0]
        g = self.rho / (self.lambda_ + np.vdot(lead, lead))
        du = g * (lead.T @ w)
        u = self.u_prev + du

        r = dy - np.einsum("mij,mj->i", phi, hist)
        d = self.mu + np.vdot(hist, hist)
        if d > self.eps:
            f = self.eta / d
            for m in range(self.l_u):
                phi[m] += np.multiply.outer(r, hist[m]) * f
                n2 = np.vdot(phi[m], phi[m])
                if n2 > self.upper2 or n2 < self.lower2:
                    phi[m] = self.initial

        hist[1:] = hist[:-1]
        hist[0] = du
        self.y_prev = y
        self.u_prev = u
        return u
