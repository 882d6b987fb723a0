# `make demo` and `make test` are all a newcomer needs; both set everything up first (see
# scripts/setup.sh), and a second run only rebuilds what changed. The other targets are the
# usual developer's loop: configure, build, test, lint, sanitize, valgrind, bench, wheel.
PYTHON := .venv/bin/python
DEV_BUILD := build/dev

.PHONY: setup demo test configure build lint format sanitize valgrind wheel bench bench-quick \
        sdist test-debian13 test-aarch64 test-windows docs

setup:
	@bash scripts/setup.sh

# With a screen the plasma example runs until its window is closed; without one, on a private Xvfb
# for a few seconds, ending with a screenshot (scripts/run_example.py).
demo: setup
	@$(PYTHON) scripts/run_example.py examples/plasma.py

test: setup
	@$(PYTHON) -m pytest

# The documentation site in build/site (MkDocs), built with warnings as errors and every page
# opened in headless Chromium (scripts/docs.sh); the reference is written from the type stub.
docs: setup
	@bash scripts/docs.sh

# A plain CMake tree beside the pip build, with compile_commands.json for editors and tools.
configure: setup
	@PATH="$(CURDIR)/.venv/bin:$$PATH" cmake -S . -B $(DEV_BUILD) -G Ninja \
	    -DCMAKE_PREFIX_PATH="$$(cat .venv/sdl3-prefix)" \
	    -DPython_EXECUTABLE="$(CURDIR)/$(PYTHON)" \
	    -Dpybind11_DIR="$$($(PYTHON) -m pybind11 --cmakedir)" \
	    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

# Rebuilds and reinstalls the module into .venv (what the tests import).
build: setup

lint: setup
	@$(PYTHON) -m ruff check .
	@$(PYTHON) -m ruff format --check .
	@.venv/bin/clang-format --dry-run -Werror src/*/*.cpp src/*/*.h benchmarks/*.cpp
	@$(PYTHON) -m mypy --strict examples/ tests/typecheck/ scripts/xsession.py scripts/run_example.py \
	    scripts/example_input.py scripts/soundserver.py
	@cd /tmp && $(CURDIR)/$(PYTHON) -m mypy.stubtest jxframebuf \
	    --allowlist $(CURDIR)/src/module/stubtest-allowlist.txt

format: setup
	@$(PYTHON) -m ruff check --fix .
	@$(PYTHON) -m ruff format .
	@.venv/bin/clang-format -i src/*/*.cpp src/*/*.h benchmarks/*.cpp

# The test suite against an AddressSanitizer + UndefinedBehaviorSanitizer build (build/asan).
sanitize: setup
	@bash scripts/sanitize.sh

# 1,000 create/flip/quit cycles under valgrind memcheck.
valgrind: setup
	@bash scripts/valgrind.sh

# The manylinux wheel in build/wheelhouse, installed and tried in a fresh venv.
wheel: setup
	@bash scripts/check-wheel.sh

# The sdist in build/sdist, installed (built from source) and tried in a fresh venv.
sdist: setup
	@bash scripts/check-sdist.sh

# The README's `make test` and `make demo` on Debian 13 (system SDL3 and Python), in a chroot
# made with debootstrap and cached in ~/.cache/jxframebuf; needs root.
test-debian13: setup
	@bash scripts/debian13.sh

# The aarch64 wheel (manylinux_2_34_aarch64, in build/aarch64/wheelhouse), cross-built against an
# arm64 Debian 13 root and tested under qemu-aarch64-static with the root's Python; the engine's C++
# programs under qemu too. The root and the cross-built SDL3 are cached in ~/.cache/jxframebuf;
# needs root.
test-aarch64: setup
	@bash scripts/aarch64.sh

# The engine cross-built for Windows with mingw-w64, its C++ programs run under Wine.
test-windows: setup
	@bash scripts/windows.sh

# Side by side with pygame-ce, pyxel and the C++ floor (benchmarks/run.py), about six minutes.
bench: setup
	@$(PYTHON) benchmarks/run.py

bench-quick: setup
	@$(PYTHON) benchmarks/run.py --quick
