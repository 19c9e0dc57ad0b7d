"""Mouse cursors: the ``Cursor`` value type and the string-art compiler.

``lumora.mouse.set_cursor`` and ``lumora.mouse.get_cursor`` (defined here
and attached to the mouse module by the package) are the public face of the
mouse module's internal ``_set_cursor``/``_get_cursor``.  A cursor is one of
three kinds:

- ``Cursor(constant)``: a system cursor (``SYSTEM_CURSOR_ARROW``, ...);
- ``Cursor(size, hotspot, xormasks, andmasks)``: a monochrome bitmap, the
  masks being sequences of ``width*height/8`` bytes (see ``compile``);
- ``Cursor(hotspot, surface)``: a colour cursor made from a ``Surface``.

``Cursor()`` is the default arrow and ``Cursor(other_cursor)`` copies.
"""

from lumora import mouse as _mouse
from lumora.surface import Surface as _Surface

__all__ = ["Cursor", "compile", "set_cursor", "get_cursor"]


def _pair(value, what):
    try:
        x, y = value
        return (int(x), int(y))
    except (TypeError, ValueError):
        raise TypeError("%s must be a pair of integers" % what) from None


class Cursor:
    """Cursor(constant) -> Cursor
    Cursor(size, hotspot, xormasks, andmasks) -> Cursor
    Cursor(hotspot, surface) -> Cursor
    Cursor(cursor) -> Cursor
    a mouse cursor: a system cursor, a bitmap or a colour surface"""

    __slots__ = ("type", "data")

    def __init__(self, *args):
        if not args:
            self.type, self.data = "system", (0,)
        elif len(args) == 1 and isinstance(args[0], Cursor):
            self.type, self.data = args[0].type, args[0].data
        elif len(args) == 1:
            if isinstance(args[0], bool) or not hasattr(args[0], "__index__"):
                raise TypeError("a system cursor is given by an integer constant")
            self.type, self.data = "system", (args[0].__index__(),)
        elif len(args) == 2:
            if not isinstance(args[1], _Surface):
                raise TypeError("a colour cursor needs a Surface")
            self.type = "color"
            self.data = (_pair(args[0], "hotspot"), args[1])
        elif len(args) == 4:
            size = _pair(args[0], "size")
            hotspot = _pair(args[1], "hotspot")
            self.type = "bitmap"
            self.data = (size, hotspot, tuple(args[2]), tuple(args[3]))
        else:
            raise TypeError("Cursor takes 0, 1, 2 or 4 arguments (%d given)"
                            % len(args))

    def __eq__(self, other):
        if not isinstance(other, Cursor):
            return NotImplemented
        return self.type == other.type and self.data == other.data

    def __hash__(self):
        return hash((self.type, self.data))

    def __copy__(self):
        return Cursor(self)

    copy = __copy__

    def __getitem__(self, index):
        return self.data[index]

    def __len__(self):
        return len(self.data)

    def __repr__(self):
        if self.type == "system":
            return "<Cursor(type: system, constant: %d)>" % self.data[0]
        if self.type == "bitmap":
            return "<Cursor(type: bitmap, size: %r, hotspot: %r)>" % self.data[:2]
        return "<Cursor(type: color, hotspot: %r, surface: %r)>" % self.data


def set_cursor(*args):
    """set_cursor(Cursor) -> None
    set_cursor(constant) -> None
    set_cursor(size, hotspot, xormasks, andmasks) -> None
    set_cursor(hotspot, surface) -> None
    set the mouse cursor to a new cursor"""
    cursor = args[0] if len(args) == 1 and isinstance(args[0], Cursor) \
        else Cursor(*args)
    if cursor.type == "system":
        _mouse._set_cursor(system=cursor.data)
    elif cursor.type == "bitmap":
        _mouse._set_cursor(bitmap=cursor.data)
    else:
        _mouse._set_cursor(color=cursor.data)


def get_cursor():
    """get_cursor() -> Cursor
    get the current mouse cursor"""
    data = _mouse._get_cursor()
    return Cursor(*data)


def compile(strings, black="X", white=".", xor="o"):
    """compile(strings, black='X', white='.', xor='o') -> (xormasks, andmasks)
    turn a string-art cursor description into the two bitmap masks

    Every string is one row and every character one pixel: ``black`` and
    ``white`` are opaque pixels of those colours, ``xor`` inverts what is
    under the cursor and any other character is transparent.  All rows must
    have the same length, a multiple of 8.  The result goes straight into
    ``Cursor(size, hotspot, *compile(strings))``."""
    rows = list(strings)
    if not rows:
        raise ValueError("a cursor needs at least one row")
    width = len(rows[0])
    if any(len(row) != width for row in rows):
        raise ValueError("all cursor rows must have the same length")
    if width == 0 or width % 8:
        raise ValueError("cursor width must be a non-zero multiple of 8")
    # SDL's pair: data bit set and mask bit set is black, mask alone is
    # white, data alone inverts, neither is transparent.
    data, mask = [], []
    for row in rows:
        for start in range(0, width, 8):
            d = m = 0
            for ch in row[start:start + 8]:
                d <<= 1
                m <<= 1
                if ch == black:
                    d |= 1
                    m |= 1
                elif ch == white:
                    m |= 1
                elif ch == xor:
                    d |= 1
            data.append(d)
            mask.append(m)
    return tuple(data), tuple(mask)
