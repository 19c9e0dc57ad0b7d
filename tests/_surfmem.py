"""Raw access, through ctypes, to the SDL surface behind a surface object
and to the slot tables modules publish in their capsules."""
import ctypes


class SDL_Rect(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int),
                ("w", ctypes.c_int), ("h", ctypes.c_int)]


class SDL_Surface(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_uint32), ("format", ctypes.c_void_p),
                ("w", ctypes.c_int), ("h", ctypes.c_int),
                ("pitch", ctypes.c_int), ("pixels", ctypes.c_void_p),
                ("userdata", ctypes.c_void_p), ("locked", ctypes.c_int),
                ("list_blitmap", ctypes.c_void_p), ("clip_rect", SDL_Rect),
                ("map", ctypes.c_void_p), ("refcount", ctypes.c_int)]


_HEAD = 2 * ctypes.sizeof(ctypes.c_void_p)   # PyObject_HEAD


def sdl(obj):
    """The SDL_Surface struct of a surface object (its first field)."""
    ptr = ctypes.c_void_p.from_address(id(obj) + _HEAD).value
    return SDL_Surface.from_address(ptr)


def _slots(module, name, n):
    """The first n pointers of lumora.<name>'s slot table."""
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype = ctypes.c_void_p
    get.argtypes = [ctypes.py_object, ctypes.c_char_p]
    p = get(module._LUMORA_C_API, ("lumora.%s._LUMORA_C_API" % name).encode())
    return (ctypes.c_void_p * n).from_address(p)
