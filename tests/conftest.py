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
