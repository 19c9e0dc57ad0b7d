"""Sphinx configuration for lumora's documentation.

The reference pages are autodoc over the installed (or staged, with
LUMORA_STAGE=<build>/stage) modules, so the docstrings are the reference.
"""
import os
import sys

os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
os.environ.setdefault("SDL_AUDIODRIVER", "dummy")
# The docstrings of the compiled modules are the reference; newer autodoc
# would otherwise execute the hand-written .pyi stubs in their place.
os.environ["SPHINX_AUTODOC_IGNORE_NATIVE_MODULE_TYPE_STUBS"] = "1"
_stage = os.environ.get("LUMORA_STAGE")
if _stage:
    sys.path.insert(0, os.path.abspath(_stage))

import lumora  # noqa: E402

project = "lumora"
author = "the lumora developers"
release = version = lumora.__version__
extensions = ["sphinx.ext.autodoc"]
exclude_patterns = ["_build"]
html_theme = "alabaster"
# The C functions carry their signatures on the docstring's first line.
autodoc_docstring_signature = True
autodoc_default_options = {"members": True, "undoc-members": True}
# Docstring signatures name plain words as result types ("-> type", "->
# index"); a word that is also an attribute somewhere is an ambiguous
# cross-reference, not an error in the docs.
suppress_warnings = ["ref.python"]
