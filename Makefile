# `make demo` and `make test` are all a newcomer needs; both set everything up first (see
# scripts/setup.sh), and a second run only rebuilds what changed.
PYTHON := .venv/bin/python

.PHONY: setup demo test bench bench-quick

setup:
	@bash scripts/setup.sh

demo: setup
	@$(PYTHON) examples/plasma.py

test: setup
	@$(PYTHON) -m pytest

# Side by side with pygame-ce, pyxel and the C++ floor (benchmarks/run.py), about six minutes.
bench: setup
	@$(PYTHON) benchmarks/run.py

bench-quick: setup
	@$(PYTHON) benchmarks/run.py --quick
