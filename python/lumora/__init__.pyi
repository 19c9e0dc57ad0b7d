from lumora import (base as base, color as color, colordict as colordict,
                    constants as constants, cursors as cursors,
                    display as display, draw as draw, event as event,
                    font as font, image as image, joystick as joystick,
                    key as key, mask as mask, mixer as mixer, mouse as mouse,
                    pinguard as pinguard, pkgdata as pkgdata,
                    rasterport as rasterport, rect as rect,
                    richload as richload, scrap as scrap,
                    shapekit as shapekit, streamwrap as streamwrap,
                    surface as surface, texelgrid as texelgrid, time as time,
                    touch as touch, transform as transform,
                    tunestream as tunestream, viewshim as viewshim)
from lumora.base import (error as error, get_error as get_error,
                         get_init as get_init, get_sdl_version as get_sdl_version,
                         init as init, quit as quit, register_quit as register_quit,
                         set_error as set_error)
from lumora.color import Color as Color
from lumora.constants import *
from lumora.cursors import Cursor as Cursor
from lumora.event import Event as Event
from lumora.font import Font as Font
from lumora.rect import Rect as Rect
from lumora.surface import Surface as Surface
from lumora.time import Clock as Clock

__version__: str
