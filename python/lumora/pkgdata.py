"""Access to data files shipped inside the lumora package.

``getResource(identifier)`` opens one of the package's data files (the
default font, the default window icon) and returns it as a binary file
object.  Files installed on disk come back as ordinary open files whose
``name`` is their path, so C code can hand the path straight to SDL; a
package imported from a zip archive yields an in-memory file object instead.
"""

import importlib
import importlib.resources
import io
import os
import sys

__all__ = ["getResource"]

# Data files live in this directory of the package.
_DATA_DIR = "data"


def _package_of(pkgname):
    """The package (module object) that owns resources for ``pkgname``.

    A plain module name (the default, this module's own name) refers to the
    package that contains it.
    """
    module = sys.modules.get(pkgname)
    if module is None:
        module = importlib.import_module(pkgname)
    if getattr(module, "__path__", None) is None:
        parent = pkgname.rpartition(".")[0]
        if not parent:
            raise ValueError("%r is not inside a package" % (pkgname,))
        module = sys.modules.get(parent) or importlib.import_module(parent)
    return module


def _check_identifier(identifier):
    if not isinstance(identifier, str):
        raise TypeError("resource identifier must be a str, not %s"
                        % type(identifier).__name__)
    if not identifier or "\0" in identifier:
        raise ValueError("invalid resource identifier %r" % (identifier,))
    # Resources are plain names relative to the package; refusing absolute
    # paths and parent references keeps a lookup inside the package.
    parts = identifier.replace("\\", "/").split("/")
    if identifier.startswith(("/", "\\")) or ".." in parts:
        raise ValueError("invalid resource identifier %r" % (identifier,))
    return parts


def getResource(identifier, pkgname=__name__):
    """getResource(identifier, pkgname=__name__) -> binary file object

    Open the data file ``identifier`` shipped with the package that contains
    the module ``pkgname`` (by default, lumora itself).  The file is looked
    up in the package's ``data`` directory and then in the package directory
    itself.  The caller closes the returned object.  A missing resource
    raises FileNotFoundError.
    """
    parts = _check_identifier(identifier)
    package = _package_of(pkgname)

    # The common case: the package is a directory on disk.
    for directory in getattr(package, "__path__", ()):
        for candidate in (os.path.join(directory, _DATA_DIR, *parts),
                          os.path.join(directory, *parts)):
            if os.path.isfile(candidate):
                return open(candidate, "rb")

    # Packages loaded some other way (zip archives): read through the loader.
    try:
        root = importlib.resources.files(package)
    except (TypeError, ModuleNotFoundError):
        root = None
    if root is not None:
        for base in (root.joinpath(_DATA_DIR), root):
            node = base
            for part in parts:
                node = node.joinpath(part)
            try:
                if node.is_file():
                    return io.BytesIO(node.read_bytes())
            except OSError:
                continue

    raise FileNotFoundError(
        "resource %r not found in package %r" % (identifier, package.__name__))
