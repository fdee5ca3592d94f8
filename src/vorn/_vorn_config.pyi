# _vorn_config.pyi: type information for the extension module vorn._vorn_config.
"""The configuration file as the loader of vorn._vorn_core reads it, and what each SISO form makes of its record."""

# (eta, mu, rho, lambda_, eps, L_y, L_u, initial_phi, u0, u_min, u_max), as load_config_from_yaml returns it.
_Record = tuple[float, float, float, float, float, int, int, float, float, float | None, float | None]

def ignored_keys(text: str, /) -> list[tuple[str | None, int, int]]:
    """The keys of the configuration text's root mapping that load_config_from_yaml ignores,
    as (key, line, column) tuples in document order, line and column counted from 1; key is
    None for a key that is a sequence or a mapping.

    Raises ValueError with the YAML reader's message when the text does not parse, and
    TypeError when text is not a str.
    """

def load(path: str, /) -> tuple[_Record, list[tuple[str | None, int, int]]]:
    """One read of the configuration file at path: the record exactly as
    load_config_from_yaml(True, path) returns it, and the keys that this same read passed
    over, as ignored_keys gives them. Raises the loader's ValueError when it refuses the
    file (also when it cannot be read), TypeError when path is not a str.
    """

def refusal(form: str, params: tuple[object, ...], /) -> ValueError | OverflowError | MemoryError | None:
    """The exception that the class of form 'cfdl', 'pfdl' or 'ffdl' would raise when built
    as cls(*params): the validation's and the pseudo-order test's ValueError, or the
    OverflowError or MemoryError of a state too large; None when it accepts them. Nothing
    of the state is allocated. Arguments that do not convert raise as the constructor does.
    """
