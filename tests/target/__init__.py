"""tests.target: the harness that builds exported controllers for other CPUs and runs them."""
