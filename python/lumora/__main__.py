"""``python -m lumora``: versions of lumora, SDL and the satellite libraries,
and which modules import on this machine."""

import importlib
import sys


def main():
    import lumora

    print("lumora", lumora.__version__, "on Python", sys.version.split()[0])
    print("SDL %d.%d.%d (compiled), %d.%d.%d (linked)"
          % (lumora.base.get_sdl_version(linked=False)
             + lumora.base.get_sdl_version()))
    for name, getter in (("SDL_ttf", "font"), ("SDL_image", "image"),
                         ("SDL_mixer", None)):
        version = None
        if getter:
            mod = getattr(lumora, getter, None)
            fn = getattr(mod, "get_sdl_ttf_version", None) if getter == "font" \
                else getattr(mod, "get_sdl_image_version", None)
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


if __name__ == "__main__":
    main()
