#!/usr/bin/env bash
# Builds lumora and runs the whole test suite on every CPython 3.11 or newer
# the machine has, each in its own build directory (build/py3.X).  One
# interpreter per minor version: pyenv's first, then python3.X on PATH.
# The test tools are installed into an interpreter that lacks them.
#   scripts/test-versions.sh            every version found
#   scripts/test-versions.sh 3.12 3.13  only these
set -uo pipefail
cd "$(dirname "$0")/.."

TOOLS=(pytest numpy pillow hypothesis scikit-build-core)
MIN_MINOR=11

candidates=()
if command -v pyenv >/dev/null 2>&1; then
  pyroot=$(pyenv root)
else
  pyroot=${PYENV_ROOT:-$HOME/.pyenv}
fi
for d in "$pyroot"/versions/3.*; do
  [ -x "$d/bin/python3" ] && candidates+=("$d/bin/python3")
done
for m in $(seq "$MIN_MINOR" 30); do
  p=$(command -v "python3.$m" 2>/dev/null) && candidates+=("$p")
done

declare -A chosen=()
order=()
for py in "${candidates[@]}"; do
  # CPython only, 3.11 or newer, and a free-threaded build counts apart.
  ver=$("$py" -c 'import sys, sysconfig
ok = sys.implementation.name == "cpython" and sys.version_info >= (3, '"$MIN_MINOR"')
t = "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""
print("%d.%d%s" % (sys.version_info[:2] + (t,)) if ok else "")' 2>/dev/null) || continue
  [ -n "$ver" ] || continue
  [ -n "${chosen[$ver]:-}" ] && continue
  chosen[$ver]=$py
  order+=("$ver")
done
if [ $# -gt 0 ]; then
  order=("$@")
fi
if [ ${#order[@]} -eq 0 ]; then
  echo "test-versions: no CPython 3.$MIN_MINOR+ found" >&2
  exit 1
fi

results=()
status=0
for ver in "${order[@]}"; do
  py=${chosen[$ver]:-}
  if [ -z "$py" ]; then
    echo "test-versions: no Python $ver here" >&2
    status=1; results+=("$ver: not found"); continue
  fi
  build=build/py$ver
  echo "== Python $ver ($py) in $build"
  start=$SECONDS
  if ! "$py" -c 'import pytest, numpy, PIL, hypothesis, scikit_build_core' 2>/dev/null; then
    echo "test-versions: installing ${TOOLS[*]} into $py"
    "$py" -m pip install -q --disable-pip-version-check "${TOOLS[@]}" || {
      status=1; results+=("$ver: installing the test tools failed"); continue; }
  fi
  if ! { cmake -S . -B "$build" -DLUMORA_WERROR=ON -DPython_EXECUTABLE="$py" >/dev/null &&
         cmake --build "$build"; }; then
    status=1; results+=("$ver: build failed"); continue
  fi
  log=$build/pytest.log
  LUMORA_STAGE=$build/stage SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy \
    xvfb-run -a "$py" -m pytest -q -p no:cacheprovider -rs tests 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  summary=$(grep -E '(passed|failed|error).* in [0-9.]+s' "$log" | tail -1 | tr -d '=')
  results+=("$ver: ${summary:-no summary} (exit $rc, $((SECONDS - start)) s)")
  [ "$rc" -eq 0 ] || status=1
done

echo "== test-versions"
printf '  %s\n' "${results[@]}"
exit $status
