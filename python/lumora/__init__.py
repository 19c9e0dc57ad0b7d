"""lumora: 2-D games and multimedia in Python, over SDL2.

The package gathers its extension modules.  ``lumora.init()`` starts SDL and
``lumora.quit()`` stops it; the value types ``Rect`` and ``Color`` and the
``Surface`` type are available here, as are the constants of
``lumora.constants``.  A submodule that fails to import (for instance when
an optional system library is missing) is simply absent from the namespace;
importing it directly shows why.
"""

import importlib as _importlib

__version__ = "0.1.0"

from lumora.base import init, quit, get_init, get_error, set_error, \
    get_sdl_version, register_quit, error  # noqa: E402
from lumora.rect import Rect  # noqa: E402
from lumora.color import Color  # noqa: E402
from lumora.surface import Surface  # noqa: E402
from lumora.constants import *  # noqa: E402,F401,F403

# Submodules exposed as attributes when they import, in dependency order.
_SUBMODULES = (
    "base", "constants", "rect", "color", "colordict", "pinguard",
    "surface", "event", "time", "display", "key", "mouse", "cursors",
    "draw", "streamwrap", "image", "richload", "font", "pkgdata", "joystick",
    "touch", "transform", "mask", "tunestream", "mixer", "viewshim",
    "texelgrid", "rasterport", "shapekit", "scrap",
)

for _name in _SUBMODULES:
    try:
        globals()[_name] = _importlib.import_module("lumora." + _name)
    except ImportError:
        pass
del _name

# Python-level conveniences of optional modules, when present.
if "time" in globals():
    Clock = time.Clock  # noqa: F821
if "event" in globals():
    Event = event.Event  # noqa: F821
if "font" in globals():
    Font = font.Font  # noqa: F821
if "cursors" in globals():
    # The public cursor API is Python over the mouse module's internals.
    mouse.set_cursor = cursors.set_cursor  # noqa: F821
    mouse.get_cursor = cursors.get_cursor  # noqa: F821
    mouse.Cursor = cursors.Cursor  # noqa: F821
    Cursor = cursors.Cursor  # noqa: F821
