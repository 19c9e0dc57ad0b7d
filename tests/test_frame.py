"""How modules import one another's C APIs, checked in fresh interpreters.

Each check runs in a subprocess that builds the ``lumora`` package object by
hand, so that the package ``__init__`` (which imports several modules) does
not run and a sibling can be broken before anything imports it.
"""
import importlib.machinery
import importlib.util
import json
import os
import subprocess
import sys

import pytest

_spec = importlib.util.find_spec("lumora")
PKG_DIRS = list(_spec.submodule_search_locations) if _spec else []


def present(name):
    for d in PKG_DIRS:
        for suffix in importlib.machinery.EXTENSION_SUFFIXES:
            if os.path.exists(os.path.join(d, *name.split(".")) + suffix):
                return True
    return False


def needs(*names):
    missing = [n for n in names if not present(n)]
    return pytest.mark.skipif(bool(missing), reason="not built: %s" % missing)


PRELUDE = """
import json, sys, types
pkg = types.ModuleType("lumora")
pkg.__path__ = %r
sys.modules["lumora"] = pkg

def report(**kw):
    print(json.dumps(kw))

def try_import(name):
    import importlib
    try:
        importlib.import_module(name)
    except BaseException as e:
        report(ok=False, type=type(e).__name__,
               mro=[c.__name__ for c in type(e).__mro__], msg=str(e),
               loaded=sorted(m for m in sys.modules if m.startswith("lumora.")))
    else:
        report(ok=True,
               loaded=sorted(m for m in sys.modules if m.startswith("lumora.")))
""" % (PKG_DIRS,)


def run(code):
    env = dict(os.environ)
    stage = os.environ.get("LUMORA_STAGE")
    if stage:
        env["PYTHONPATH"] = os.path.abspath(stage) + os.pathsep + \
            env.get("PYTHONPATH", "")
    env.setdefault("SDL_VIDEODRIVER", "dummy")
    env.setdefault("SDL_AUDIODRIVER", "dummy")
    out = subprocess.run([sys.executable, "-c", PRELUDE + code], env=env,
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout.strip().splitlines()[-1])


def breaker(kind, module="base"):
    """Code that breaks `lumora.<module>` before an importer loads it."""
    full = "lumora." + module
    return {
        "none": 'sys.modules[%r] = None\n' % full,
        "no_capsule": 'sys.modules[%r] = types.ModuleType(%r)\n' % (full, full),
        "not_capsule": ('m = types.ModuleType(%r)\n'
                        'm._LUMORA_C_API = 12345\n'
                        'sys.modules[%r] = m\n' % (full, full)),
        "wrong_name": ('import datetime\n'
                       'm = types.ModuleType(%r)\n'
                       'm._LUMORA_C_API = datetime.datetime_CAPI\n'
                       'sys.modules[%r] = m\n' % (full, full)),
        "raises": '''
import importlib.abc, importlib.util
class Loader(importlib.abc.Loader):
    def create_module(self, found):
        return None
    def exec_module(self, module):
        raise RuntimeError("%(m)s is broken")
class Finder(importlib.abc.MetaPathFinder):
    def find_spec(self, name, path, target=None):
        if name == "%(full)s":
            return importlib.util.spec_from_loader(name, Loader())
        return None
sys.meta_path.insert(0, Finder())
''' % {"m": module, "full": full},
    }[kind]


IMPORTERS = [m for m in ("rect", "color", "event", "pinguard") if present(m)]


@pytest.mark.skipif(not IMPORTERS, reason="no module importing base is built")
@pytest.mark.parametrize("importer", IMPORTERS)
@pytest.mark.parametrize("kind,exc,msg", [
    ("none", "ImportError", "lumora.base"),
    ("no_capsule", "AttributeError", "_LUMORA_C_API"),
    ("not_capsule", "ImportError", "lumora.base._LUMORA_C_API is not a capsule"),
    ("wrong_name", "ValueError", "incorrect name"),
    ("raises", "RuntimeError", "base is broken"),
])
def test_broken_base_fails_the_importer(importer, kind, exc, msg):
    res = run(breaker(kind) + 'try_import("lumora.%s")' % importer)
    assert res["ok"] is False
    assert exc in res["mro"], res
    assert msg in res["msg"]
    assert "lumora." + importer not in res["loaded"]


@needs("base", "color", "rect", "surface", "pinguard", "draw")
@pytest.mark.parametrize("kind,exc,msg", [
    ("none", "ImportError", "lumora.surface"),
    ("not_capsule", "ImportError", "is not a capsule"),
    ("raises", "RuntimeError", "surface is broken"),
])
def test_broken_surface_stops_before_pinguard(kind, exc, msg):
    res = run(breaker(kind, "surface") + 'try_import("lumora.draw")')
    assert res["ok"] is False and exc in res["mro"], res
    assert msg in res["msg"]
    assert "lumora.pinguard" not in res["loaded"]
    assert "lumora.draw" not in res["loaded"]


@needs("base", "color", "rect", "surface", "pinguard")
def test_pinguard_needs_base():
    # pinguard raises through base's error type, so it loads base (and a
    # broken base fails it: test_broken_base_fails_the_importer).
    res = run('try_import("lumora.pinguard")')
    assert res["ok"] is True and "lumora.base" in res["loaded"]


# Exporting modules and the type in slot 0 (None: slot 0 is not a type).
EXPORTERS = [("base", None), ("rect", "Rect"), ("color", "Color"),
             ("pinguard", "SurfLifeLock"), ("event", "Event"),
             ("surface", "Surface"), ("streamwrap", None),
             ("joystick", "Joystick"), ("mask", "Mask"),
             ("texelgrid", "TexelGrid"), ("font", "Font"),
             ("viewshim", "ViewShim")]


@pytest.mark.parametrize("name,typename", EXPORTERS)
def test_capsule_name_and_slot_zero(name, typename):
    if not present(name):
        pytest.skip("lumora.%s is not built" % name)
    res = run('''
import ctypes, importlib
m = importlib.import_module("lumora.%(n)s")
cap = m._LUMORA_C_API
api = ctypes.pythonapi
api.PyCapsule_IsValid.argtypes = [ctypes.py_object, ctypes.c_char_p]
api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
api.PyCapsule_GetPointer.restype = ctypes.c_void_p
capname = b"lumora.%(n)s._LUMORA_C_API"
table = ctypes.cast(api.PyCapsule_GetPointer(cap, capname),
                    ctypes.POINTER(ctypes.c_void_p))
t = %(t)r
report(capsule=type(cap).__name__, valid=api.PyCapsule_IsValid(cap, capname),
       slot0_is_type=(table[0] == id(getattr(m, t))) if t else None,
       same=(getattr(m, t) is getattr(m, t + "Type")) if t else None,
       first_entry_set=bool(table[0]))
''' % {"n": name, "t": typename})
    assert res["capsule"] == "PyCapsule"
    assert res["valid"] == 1
    assert res["first_entry_set"]
    if typename:
        assert res["slot0_is_type"] is True
        assert res["same"] is True

