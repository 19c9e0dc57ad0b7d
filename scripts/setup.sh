#!/usr/bin/env bash
# Installs what building and testing lumora needs; safe to run again.
#   system: SDL2 and its satellites, libpng, a compiler, Xvfb, a free font
#   Python: the build backend, the test tools and the documentation builder
set -euo pipefail

PYTHON=${PYTHON:-python3}
APT_PACKAGES=(
  build-essential pkg-config cmake
  libsdl2-dev libsdl2-ttf-dev libsdl2-image-dev libsdl2-mixer-dev libpng-dev
  fonts-freefont-ttf xvfb xauth
)
# BENCH=1 (make bench): the benchmarks' peers too; pycairo builds against
# libcairo.
if [ "${BENCH:-0}" = 1 ]; then
  APT_PACKAGES+=(libcairo2-dev)
fi

missing=()
for p in "${APT_PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

PIP_PACKAGES=(scikit-build-core pytest numpy pillow hypothesis sphinx mypy)
if ! "$PYTHON" -c "import scikit_build_core, pytest, numpy, PIL, hypothesis, sphinx, mypy" 2>/dev/null; then
  echo "setup: installing ${PIP_PACKAGES[*]}"
  "$PYTHON" -m pip install -q "${PIP_PACKAGES[@]}"
fi

if [ "${BENCH:-0}" = 1 ] && ! "$PYTHON" -c "import scipy, cairo" 2>/dev/null; then
  echo "setup: installing the benchmark peers scipy pycairo"
  "$PYTHON" -m pip install -q scipy pycairo
fi
