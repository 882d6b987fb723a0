"""The module itself: its documentation, its class, and where it refuses to load."""

import _interpreters
import importlib.metadata

from conftest import in_child

import jxframebuf


def test_module_and_class_surface():
    assert jxframebuf.__doc__ == "JXFramebuffer - 8-bit framebuffer with palette"
    assert jxframebuf.__all__ == [
        "FONT_4X6", "FONT_8X8", "Audio", "Canvas", "Font", "Framebuffer", "Voice", "__version__",
        "key_names", "load_image", "load_sound", "melody", "save_image", "text_size", "tone"
    ]  # fmt: skip
    for name in jxframebuf.__all__:
        if name not in ("__version__", "FONT_4X6", "FONT_8X8"):
            assert getattr(jxframebuf, name).__module__ == "jxframebuf", name
    canvas = [name for name in vars(jxframebuf.Canvas) if not name.startswith("_")]
    assert canvas == ["array", "clear", "pset", "pget", "line", "rect", "circle", "blit", "tiles",
                      "sprites", "triangle", "polygon", "ellipse", "flood", "text",
                      "camera", "clip", "pattern"]  # fmt: skip
    cls = jxframebuf.Framebuffer
    assert cls.__module__ == "jxframebuf" and cls.__doc__ is None
    members = [name for name in vars(cls) if not name.startswith("_")]
    assert members == [
        "running",
        "flip",
        "clear",
        "pset",
        "pget",
        "buffer",
        "palette",
        "quit",
        "width",
        "height",
        "frames",
        "frame_rate",
        "key",
        "pressed",
        "released",
        "typed",
        "wheel",
        "mouse",
        "window_size",
        "axis",
        "gamepads",
        "cursor",
        "title",
        "fullscreen",
        "resizable",
        "line",
        "rect",
        "circle",
        "blit",
        "tiles",
        "sprites",
        "triangle",
        "polygon",
        "ellipse",
        "flood",
        "text",
        "camera",
        "clip",
        "pattern",
        "save",
        "record",
    ]
    assert "width: typing.SupportsIndex" in cls.__init__.__doc__
    assert "scale: typing.SupportsIndex = 3" in cls.__init__.__doc__


def test_version_is_the_package_version():
    # Under `make sanitize` the module comes from a plain CMake build, which reads pyproject.toml.
    assert jxframebuf.__version__ == importlib.metadata.version("jxframebuf")


def test_import_is_refused_in_an_isolated_subinterpreter():
    interp = _interpreters.create("isolated")  # with its own GIL
    try:
        failure = _interpreters.run_string(interp, "import jxframebuf")
    finally:
        _interpreters.destroy(interp)
    assert failure is not None
    assert failure.type.__name__ == "ImportError"
    assert "does not support loading in subinterpreters" in failure.msg


def test_drawing_and_flipping_import_neither_numpy_nor_pillow():
    program = (
        "import sys, jxframebuf\n"
        "fb = jxframebuf.Framebuffer(8, 8)\n"
        "fb.rect(1, 1, 4, 4, 3); fb.flip(); fb.quit()\n"
        "assert not {'numpy', 'PIL'} & set(sys.modules), sorted(sys.modules)\n"
        "fb.buffer()\n"
        "assert 'numpy' in sys.modules\n"
    )
    in_child(program)
