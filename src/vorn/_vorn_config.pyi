# _vorn_config.pyi: type information for the extension module vorn._vorn_config.
"""The configuration file's keys as the loader of vorn._vorn_core reads them."""

def ignored_keys(text: str, /) -> list[tuple[str | None, int, int]]:
    """The keys of the configuration text's root mapping that load_config_from_yaml ignores,
    as (key, line, column) tuples in document order, line and column counted from 1; key is
    None for a key that is a sequence or a mapping.

    Raises ValueError with the YAML reader's message when the text does not parse, and
    TypeError when text is not a str.
    """
