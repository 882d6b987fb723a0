"""JXFramebuffer - 8-bit framebuffer with palette"""

from . import _images
from ._images import load_image, save_image
from ._jxframebuf import (
    FONT_4X6,
    FONT_8X8,
    Audio,
    Canvas,
    Font,
    Framebuffer,
    Voice,
    __version__,
    text_size,
)

# Saving and recording are written in Python, over Pillow (_images.py), and belong to the class.
Framebuffer.save = _images.save  # type: ignore[method-assign]
Framebuffer.record = _images.record  # type: ignore[method-assign]

# The classes and functions are defined in the extension and in modules inside this package; they
# are used, and documented, as members of the package itself.
for _member in (Framebuffer, Canvas, Font, Audio, Voice, text_size, load_image, save_image):
    _member.__module__ = __name__
for _name in ("save", "record"):
    _method = getattr(Framebuffer, _name)
    _method.__module__, _method.__qualname__ = __name__, f"Framebuffer.{_name}"
del _member, _name, _method

__all__ = [
    "FONT_4X6",
    "FONT_8X8",
    "Audio",
    "Canvas",
    "Font",
    "Framebuffer",
    "Voice",
    "__version__",
    "load_image",
    "save_image",
    "text_size",
]
