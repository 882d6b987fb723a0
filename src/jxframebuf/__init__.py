"""JXFramebuffer - 8-bit framebuffer with palette"""

from ._jxframebuf import Framebuffer, __version__

# The classes are defined in the extension inside this package; they are used, and documented, as
# members of the package itself.
Framebuffer.__module__ = __name__

__all__ = ["Framebuffer", "__version__"]
