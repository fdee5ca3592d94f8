"""The test suite, a package so that its shared models (tests/models.py) import by one name
here and in the benchmark suite."""
