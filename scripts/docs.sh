#!/usr/bin/env bash
# `make docs`: the documentation site, built and checked as a reader meets it. Installs the pinned
# site tools (requirements-docs.txt) into .venv and Debian's chromium and chromium-driver when
# missing, checks that the reference page is up to date with the stub and that every public member
# has a docstring, builds the site into build/site with warnings as errors, then opens every page
# in headless Chromium (scripts/docs_check.py), which saves a screenshot of the home page to
# build/docs/home.png.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
venv="$root/.venv"
cd "$root"

reqs="$root/requirements-docs.txt"
stamp="$venv/.requirements-docs.sha256"
if [ "$(sha256sum < "$reqs")" != "$(cat "$stamp" 2>/dev/null)" ]; then
    echo "docs: installing the site tools from requirements-docs.txt"
    "$venv/bin/python" -m pip install -q -r "$reqs" 2>&1 \
        | { grep -v -E "^(WARNING: Location|DEPRECATION)" || true; }
    sha256sum < "$reqs" > "$stamp"
fi
bash "$root/scripts/need-packages.sh" chromium chromium-driver

"$venv/bin/python" scripts/docs_reference.py --check
# MkDocs prints a notice about its own future on every build; the build's warnings still fail it.
NO_MKDOCS_2_WARNING=1 "$venv/bin/mkdocs" build --strict --quiet
"$venv/bin/python" scripts/docs_check.py
