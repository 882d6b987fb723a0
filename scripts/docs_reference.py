"""Writes docs/reference.md from the package's type stub, or checks that it is up to date.

The stub (src/jxframebuf/__init__.pyi, and the stub of any public submodule) is the one source of
the reference: its docstrings are what editors show and what the site renders, through mkdocstrings,
which reads the stub with griffe as this script does. The page this writes is a table of contents
and one mkdocstrings block per public name, each listing the name's members in the stub's order, so
a member added to the stub without regenerating the page is missing from the site: `--check` fails
then, and also when any public name or member has no docstring (or one with a control
character in it, an escape that lost its backslash).

    scripts/docs_reference.py            # rewrite docs/reference.md
    scripts/docs_reference.py --check    # exit 1, saying why, if it is stale or a docstring lacks
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any

import griffe

ROOT = Path(__file__).resolve().parent.parent
PAGE = ROOT / "docs" / "reference.md"
PACKAGE = "jxframebuf"
# Members that are part of the interface although their names begin with an underscore.
DUNDERS = ("__init__", "__enter__", "__exit__", "__len__", "__iter__", "__getitem__")


def load() -> Any:
    """The package as its stub defines it (in the stub's order), with each public submodule (its
    stub, or its source where it has none) as a member."""
    package = ROOT / "src" / PACKAGE
    stub = package / "__init__.pyi"
    module = griffe.visit(PACKAGE, stub, stub.read_text(), docstring_parser="google")
    for path in sorted(package.glob("*.py*")):
        if path.stem.startswith("_") or path.suffix not in (".py", ".pyi"):
            continue
        if path.suffix == ".py" and path.with_suffix(".pyi").exists():
            continue
        sub = griffe.visit(
            f"{PACKAGE}.{path.stem}", path, path.read_text(), docstring_parser="google"
        )
        module.set_member(path.stem, sub)
    return module


def public_members(obj: Any) -> list[str]:
    """The members of a class or module that the reference lists, in the stub's order."""
    names = []
    for name, member in obj.members.items():
        if member.is_alias:
            continue
        if name.startswith("_") and name not in DUNDERS:
            continue
        names.append(name)
    return names


def public_names(module: Any) -> list[tuple[str, Any]]:
    """The package's public names: those in __all__ (in the stub's order of definition), then its
    public submodules."""
    exported = set(module.exports or [])
    defined = [
        (name, member)
        for name, member in module.members.items()
        if name in exported and not member.is_alias
    ]
    # Classes and functions first, then the constants.
    names = [(n, m) for n, m in defined if not m.is_attribute]
    names += [(n, m) for n, m in defined if m.is_attribute]
    names += [(name, sub) for name, sub in module.modules.items() if not name.startswith("_")]
    return names


def summary(obj: Any) -> str:
    """The first sentence of a docstring, on one line, for the contents table."""
    if not obj.docstring:
        return ""
    text = " ".join(obj.docstring.value.split("\n\n")[0].split())
    for end in (". ", ".\n"):
        if end in text:
            text = text[: text.index(end) + 1]
            break
    return text.replace("|", "\\|")


def docstring_faults(module: Any) -> list[str]:
    """Public names and members without a docstring, or whose docstring holds a control
    character (an escape such as "\\b" written with one backslash in the stub)."""
    faults = []

    def check(path: str, obj: Any) -> None:
        if not obj.docstring:
            faults.append(f"{path} has no docstring in the stub")
        elif any(ord(ch) < 32 and ch != "\n" for ch in obj.docstring.value):
            faults.append(f"{path}'s docstring holds a control character: double its backslash")

    for name, obj in public_names(module):
        check(f"{PACKAGE}.{name}", obj)
        if obj.is_class or obj.is_module:
            for member in public_members(obj):
                check(f"{PACKAGE}.{name}.{member}", obj.members[member])
    return faults


def render(module: Any) -> str:
    lines = [
        "# Reference",
        "",
        "<!-- Written by scripts/docs_reference.py from the package's type stub; edit the stub's",
        "     docstrings (src/jxframebuf/__init__.pyi) and run `make docs`, not this page. -->",
        "",
        "Every public name of `jxframebuf`, with its members, arguments, results and errors. This",
        "is the text of the package's type stub, which editors show as you type; the",
        "[guide](guide.md) shows how the pieces fit together.",
        "",
        "| Name | What it is |",
        "|---|---|",
    ]
    for name, obj in public_names(module):
        lines.append(f"| [`{name}`](#{PACKAGE}.{name}) | {summary(obj)} |")
    for name, obj in public_names(module):
        lines += ["", f"::: {PACKAGE}.{name}"]
        if obj.is_class or obj.is_module:
            members = [m for m in public_members(obj) if not (obj.is_class and m == "__init__")]
            lines += ["    options:", "      members:"]
            lines += [f"        - {m}" for m in members]
    return "\n".join(lines) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="check instead of writing")
    args = parser.parse_args()
    module = load()
    faults = docstring_faults(module)
    for fault in faults:
        print(f"docs_reference: {fault}", file=sys.stderr)
    text = render(module)
    if args.check:
        if not PAGE.exists() or PAGE.read_text() != text:
            print(
                f"docs_reference: {PAGE.relative_to(ROOT)} is stale: run "
                "`.venv/bin/python scripts/docs_reference.py` and commit it",
                file=sys.stderr,
            )
            return 1
    elif not PAGE.exists() or PAGE.read_text() != text:
        PAGE.write_text(text)
        print(f"docs_reference: wrote {PAGE.relative_to(ROOT)}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
