# `make demo` and `make test` are all a newcomer needs; both set everything up first (see
# scripts/setup.sh), and a second run only rebuilds what changed. `make sanitize` and
# `make valgrind` check memory safety and leaks against separate builds in build/.
PYTHON := .venv/bin/python

.PHONY: setup demo test sanitize valgrind

setup:
	@bash scripts/setup.sh

demo: setup
	@$(PYTHON) examples/plasma.py

test: setup
	@$(PYTHON) -m pytest

sanitize: setup
	@bash scripts/sanitize.sh

valgrind: setup
	@bash scripts/valgrind.sh
