"""Test set-up: headless SDL, and an optional staged development build.

LUMORA_STAGE=<build>/stage runs the suite against a development build
instead of the installed package.
"""
import os
import sys

os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
os.environ.setdefault("SDL_AUDIODRIVER", "dummy")

_stage = os.environ.get("LUMORA_STAGE")
if _stage:
    sys.path.insert(0, os.path.abspath(_stage))


def pytest_configure(config):
    # pytest before 8.4 swaps its own sys.unraisablehook in around every
    # test phase, over the hook a test installs to watch for unraisable
    # exceptions; without the plugin such a hook stays in place.
    import pytest
    if tuple(int(p) for p in pytest.__version__.split(".")[:2]) < (8, 4):
        plugin = config.pluginmanager.get_plugin("unraisableexception")
        if plugin is not None:
            config.pluginmanager.unregister(plugin)


_as_limit = None


def address_limit_enforced():
    """Whether RLIMIT_AS makes large allocations fail in a child process
    (user-mode emulators do not enforce it)."""
    global _as_limit
    if _as_limit is None:
        import subprocess
        code = ("import resource\n"
                "resource.setrlimit(resource.RLIMIT_AS, (1 << 28, 1 << 28))\n"
                "try:\n    bytearray(1 << 29)\nexcept MemoryError:\n    print('enforced')\n")
        try:
            out = subprocess.run([sys.executable, "-c", code], capture_output=True,
                                 text=True, timeout=60).stdout
        except (OSError, subprocess.SubprocessError):
            out = ""
        _as_limit = out.strip() == "enforced"
    return _as_limit
