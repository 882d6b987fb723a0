# `make demo` and `make test` are all a newcomer needs; both set everything up first (see
# scripts/setup.sh), and a second run only rebuilds what changed.
PYTHON := .venv/bin/python

.PHONY: setup demo test

setup:
	@bash scripts/setup.sh

demo: setup
	@$(PYTHON) examples/plasma.py

test: setup
	@$(PYTHON) -m pytest
