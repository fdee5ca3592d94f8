"""The conformance suite: every check runs over every face it applies to (the single
controller classes, the fleets, the exported C), listed once in tests/conformance/faces.py.
A new face gets every check by being added there."""
