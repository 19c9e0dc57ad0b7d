"""``python -m lumora``: play the demo game, ``lumora.examples.collector``.

Arguments are the demo's own (``--frames N --screenshot out.png`` plays N
frames of scripted input and saves the last one).  ``python -m lumora
--info`` prints the versions of lumora, SDL and the satellite libraries and
which modules import on this machine instead.
"""

import importlib
import sys


def info():
    import lumora

    print("lumora", lumora.__version__, "on Python", sys.version.split()[0])
    print("SDL %d.%d.%d (compiled), %d.%d.%d (linked)"
          % (lumora.base.get_sdl_version(linked=False)
             + lumora.base.get_sdl_version()))
    for name, getter, query in (("SDL_ttf", "font", "get_sdl_ttf_version"),
                                ("SDL_image", "image", "get_sdl_image_version"),
                                ("SDL_mixer", "mixer", "get_sdl_mixer_version")):
        version = None
        if getter:
            fn = getattr(getattr(lumora, getter, None), query, None)
            if fn is not None:
                try:
                    version = fn()
                except Exception:  # noqa: BLE001 - report, don't fail
                    version = None
        print("%-9s %s" % (name, "%d.%d.%d" % version if version else "-"))
    ok, failed = [], []
    for name in lumora._SUBMODULES + ("_sdl2.sdl2",):
        try:
            importlib.import_module("lumora." + name)
            ok.append(name)
        except ImportError as exc:
            failed.append("%s (%s)" % (name, exc))
    print("modules:", " ".join(ok))
    if failed:
        print("not importable:", "; ".join(failed))
    return 0


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    if argv[:1] == ["--info"]:
        return info()
    from lumora.examples import collector
    return collector.main(argv)


if __name__ == "__main__":
    sys.exit(main())
