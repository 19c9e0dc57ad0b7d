"""The README's module table stays true: every module it names imports,
and every module the package gathers is named."""
import importlib
import os
import re

import lumora

README = os.path.join(os.path.dirname(__file__), os.pardir, "README.md")


def table_modules():
    with open(README, encoding="utf-8") as f:
        return re.findall(r"^\| `([\w.]+)` \|", f.read(), re.M)


def test_every_listed_module_imports():
    names = table_modules()
    assert len(names) > 20
    for name in names:
        importlib.import_module("lumora." + name)


def test_every_gathered_module_is_listed():
    missing = set(lumora._SUBMODULES) - set(table_modules())
    assert not missing
