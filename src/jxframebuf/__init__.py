"""JXFramebuffer - 8-bit framebuffer with palette"""

from ._jxframebuf import Audio, Framebuffer, Voice, __version__

# The classes are defined in the extension inside this package; they are used, and documented, as
# members of the package itself.
for _cls in (Framebuffer, Audio, Voice):
    _cls.__module__ = __name__
del _cls

__all__ = ["Audio", "Framebuffer", "Voice", "__version__"]
