"""The installed type stubs say what the extension really accepts and returns."""

import ast
import inspect
import re
import sysconfig
from pathlib import Path

import pytest

import jxframebuf

STUB = Path(__file__).resolve().parent.parent / "src" / "jxframebuf" / "__init__.pyi"
# pybind11 writes each signature as the first line of the docstring, e.g.
#   clear(self: jxframebuf.Framebuffer, color: typing.SupportsInt | typing.SupportsIndex = 0) -> None
SIGNATURE = re.compile(r"^(\w+)\((.*)\) -> (.+)$")


CLASSES = ["Framebuffer", "Canvas", "Font", "Audio", "Voice"]


def stub_methods(name="Framebuffer"):
    tree = ast.parse(STUB.read_text())
    cls = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == name)
    # A property's setter comes after its getter under the same name: keep the getter.
    methods = {}
    for n in cls.body:
        if isinstance(n, ast.FunctionDef):
            methods.setdefault(n.name, n)
    return methods


# How pybind11 spells what the stub names otherwise. `_Int` is SupportsIndex, so that a type
# checker refuses floats, which the binding refuses too (tests/typecheck/calls.py checks it).
PYBIND11_SPELLING = {
    "_Int": "typing.SupportsIndex",
    "_Float": "typing.SupportsFloat | typing.SupportsIndex",
    "_Path": "str | os.PathLike[str]",
}


def annotation(node):
    """The annotation as pybind11 spells it."""
    if node is None:
        return None
    text = ast.unparse(node)
    for alias, spelling in PYBIND11_SPELLING.items():
        text = text.replace(alias, spelling)
    return text


def top_level(params):
    """The parameters of a signature, split at the commas outside brackets."""
    parts, depth, current = [], 0, ""
    for char in params:
        depth += char == "["
        depth -= char == "]"
        if char == "," and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += char
    return [*parts, current.strip()]


def runtime_signature(cls, name):
    doc = getattr(getattr(jxframebuf, cls), name).__doc__.splitlines()[0]
    _, params, returns = SIGNATURE.match(doc).groups()
    parsed = []
    for param in top_level(params):
        head, _, default = param.partition(" = ")
        name, _, annotation = head.partition(": ")
        parsed.append((name, annotation or None if name != "self" else None, default or None))
    return parsed, returns


def is_plain_method(cls, node):
    """Properties have no generated signature of their own, the context-manager methods take
    `self` and the exception as plain objects in the binding, which the stub types precisely, and
    the members written in Python have real signatures, which stubtest checks."""
    return (
        not node.decorator_list
        and node.name not in ("__enter__", "__exit__")
        and not inspect.isfunction(getattr(getattr(jxframebuf, cls), node.name))
    )


@pytest.mark.parametrize(
    "cls, name",
    [(c, n) for c in CLASSES for n, f in stub_methods(c).items() if is_plain_method(c, f)],
)
def test_stub_signature_matches_the_binding(cls, name):
    func = stub_methods(cls)[name]
    params, returns = runtime_signature(cls, name)
    args = func.args.posonlyargs + func.args.args
    defaults = [None] * (len(args) - len(func.args.defaults)) + [
        ast.unparse(d) for d in func.args.defaults
    ]
    stub = [(a.arg, annotation(a.annotation), d) for a, d in zip(args, defaults)]
    if func.args.posonlyargs:  # positional only in both, or in neither
        stub.insert(len(func.args.posonlyargs), ("/", None, None))
    if func.args.kwonlyargs:  # keyword-only in both, or in neither
        stub.append(("*", None, None))
        for a, d in zip(func.args.kwonlyargs, func.args.kw_defaults):
            stub.append((a.arg, annotation(a.annotation), d and ast.unparse(d)))
    assert stub == params
    assert ast.unparse(func.returns) == returns.replace("jxframebuf._jxframebuf.", "")


def test_every_member_has_a_docstring_and_names_its_parameters():
    tree = ast.parse(STUB.read_text())
    functions = {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}
    for name, func in [*functions.items(), *(i for c in CLASSES for i in stub_methods(c).items())]:
        doc = ast.get_docstring(func)
        assert doc, name
        params = func.args.posonlyargs + func.args.args
        assert not any(a.arg.startswith("arg") for a in params), name


@pytest.mark.parametrize("cls", CLASSES)
def test_every_member_has_a_stub(cls):
    members = {n for n in vars(getattr(jxframebuf, cls)) if not n.startswith("_")}
    if cls in ("Framebuffer", "Audio"):
        members |= {"__init__", "__enter__", "__exit__"}
    elif cls in ("Canvas", "Font"):
        members |= {"__init__"}  # Voices come from Audio.play alone
    assert set(stub_methods(cls)) == members


def test_stubs_are_installed_inside_the_typed_package():
    # Where pip installed the package (the module itself may be imported from a build tree).
    installed = Path(sysconfig.get_paths()["platlib"]) / "jxframebuf"
    assert (installed / "__init__.pyi").read_text() == STUB.read_text()
    assert (installed / "py.typed").is_file()
