"""The benchmark suite of vorn: `python -m bench.run` from the repository root."""
