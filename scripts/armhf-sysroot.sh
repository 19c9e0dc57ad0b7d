#!/usr/bin/env bash
# Builds a private armhf (32-bit ARM, hard float) Debian sysroot for
# cross-building lumora and running its tests under user-mode emulation.
#
#   scripts/armhf-sysroot.sh [SYSROOT]     (default: build/armhf-sysroot)
#
# Native tools (cross compiler, qemu-arm-static) are installed with apt if
# missing.  The armhf packages are NOT installed into the system: a private
# apt configuration (its own sources, index and empty dpkg status, with
# armhf as the only architecture) resolves the full dependency closure and
# downloads the .debs, which are then unpacked with dpkg-deb -x into one
# folder.  The system's package state, architectures and lists are left
# alone, so an armhf index that is out of step with the native one cannot
# break anything.  Safe to run again: a finished sysroot is kept.
set -euo pipefail

ROOT=${1:-build/armhf-sysroot}
mkdir -p "$ROOT"
ROOT=$(cd "$ROOT" && pwd)
APTDIR="$ROOT.apt"          # private apt state and downloaded .debs
STAMP="$ROOT/.lumora-sysroot"

# What the build links against and what the tests import on the target.
PACKAGES=(
  libc6-dev libstdc++6
  libsdl2-dev libsdl2-ttf-dev libsdl2-image-dev libsdl2-mixer-dev libpng-dev
  libpython3.11-dev python3.11 python3-pytest python3-hypothesis
  python3-numpy python3-pil fonts-freefont-ttf
)
NATIVE=(gcc-arm-linux-gnueabihf g++-arm-linux-gnueabihf qemu-user-static
        dpkg-dev pkg-config cmake xvfb xauth)

want="layout 2: ${PACKAGES[*]}"
if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$want" ]; then
  echo "armhf-sysroot: $ROOT is ready"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
missing=()
for p in "${NATIVE[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "armhf-sysroot: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# Private apt tree: same mirrors as the host, armhf only.
rm -rf "$APTDIR"
mkdir -p "$APTDIR"/{lists/partial,archives/partial,etc/apt.conf.d,etc/preferences.d,etc/sources.list.d,cache}
: > "$APTDIR/status"
if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null; then
  for f in /etc/apt/sources.list.d/*.sources; do
    # Only Debian's own archives carry armhf packages; an Architectures:
    # line would keep armhf out.
    if grep -q 'debian' "$f"; then
      grep -v '^Architectures:' "$f" > "$APTDIR/etc/sources.list.d/$(basename "$f")"
    fi
  done
fi
SUITE=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
[ -f /etc/apt/sources.list ] && grep -E '^deb .*debian' /etc/apt/sources.list \
  > "$APTDIR/etc/sources.list" || : > "$APTDIR/etc/sources.list"
APT_OPTS=(
  -o APT::Architecture=armhf -o APT::Architectures=armhf
  -o Dir::State="$APTDIR" -o Dir::State::Lists="$APTDIR/lists"
  -o Dir::State::status="$APTDIR/status"
  -o Dir::Cache="$APTDIR/cache" -o Dir::Cache::Archives="$APTDIR/archives"
  -o Dir::Etc::SourceList="$APTDIR/etc/sources.list"
  -o Dir::Etc::SourceParts="$APTDIR/etc/sources.list.d"
  -o Dir::Etc::Parts="$APTDIR/etc/apt.conf.d"
  -o Dir::Etc::Preferences="$APTDIR/etc/preferences"
  -o Dir::Etc::PreferencesParts="$APTDIR/etc/preferences.d"
  -o Acquire::Retries=5 -o Acquire::Languages=none
  -o APT::Install-Recommends=false -o APT::Install-Suggests=false
  -o Debug::NoLocking=true
)

retry() {
  local n
  for n in 1 2 3; do
    "$@" && return 0
    echo "armhf-sysroot: attempt $n of 3 failed" >&2
    [ "$n" -lt 3 ] && sleep $((n * 5))
  done
  return 1
}

echo "armhf-sysroot: reading the armhf package index"
if ! retry apt-get "${APT_OPTS[@]}" -qq update 2>"$APTDIR/update.log"; then
  # A suite whose index is mid-sync (seen with the security suite) is left
  # out; the rest is consistent on its own, and nothing in the sysroot has
  # to match the host's versions.
  if ! compgen -G "$APTDIR/lists/*_dists_${SUITE}_main_binary-armhf_Packages*" >/dev/null; then
    cat "$APTDIR/update.log" >&2
    echo "armhf-sysroot: the main armhf index could not be read" >&2
    exit 1
  fi
  echo "armhf-sysroot: warning: some armhf indexes could not be read and are left out:" >&2
  grep -E '^E: Failed' "$APTDIR/update.log" | sort -u >&2 || true
fi
echo "armhf-sysroot: downloading ${PACKAGES[*]} and their dependencies"
retry env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTS[@]}" -qq -y \
  --download-only install "${PACKAGES[@]}"

echo "armhf-sysroot: unpacking $(ls "$APTDIR"/archives/*.deb | wc -l) packages into $ROOT"
find "$ROOT" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
for deb in "$APTDIR"/archives/*.deb; do
  dpkg-deb -x "$deb" "$ROOT"
done

# Absolute symlinks inside the sysroot (e.g. lib/arm-linux-gnueabihf/libz.so
# -> /lib/...) would point into the host: make them relative.
find "$ROOT" -type l -lname '/*' | while read -r link; do
  target=$(readlink "$link")
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$ROOT$target")" "$link"
done

# Debian's python3 packages ship "python3" as a dependency package; the
# interpreter and the unversioned names are set up by maintainer scripts,
# which never run here.
[ -e "$ROOT/usr/bin/python3" ] || ln -s python3.11 "$ROOT/usr/bin/python3"
# The same goes for the alternatives the BLAS and LAPACK packages register
# (numpy links against libblas.so.3 and liblapack.so.3).
for alt in "$ROOT"/usr/lib/arm-linux-gnueabihf/{blas,lapack}/lib*.so.*; do
  [ -e "$alt" ] || continue
  dest="$ROOT/usr/lib/arm-linux-gnueabihf/$(basename "$alt")"
  [ -e "$dest" ] || ln -s "$(basename "$(dirname "$alt")")/$(basename "$alt")" "$dest"
done

# The armhf interpreter as a host command.  The kernel has no binfmt handler
# for ARM (none is registered here on purpose), so a child started with
# sys.executable must be this script too: -0 makes it sys.executable, and
# PYTHONHOME points the interpreter at the sysroot's standard library.
cat > "$ROOT/qemu-python3" <<WRAP
#!/bin/sh
PYTHONHOME='$ROOT/usr'
export PYTHONHOME
exec qemu-arm-static -L '$ROOT' -0 '$ROOT/qemu-python3' '$ROOT/usr/bin/python3.11' "\$@"
WRAP
chmod +x "$ROOT/qemu-python3"
# The cross compiler aimed at the sysroot, for tests that build helpers.
cat > "$ROOT/cross-cc" <<WRAP
#!/bin/sh
exec arm-linux-gnueabihf-gcc --sysroot='$ROOT' "\$@"
WRAP
chmod +x "$ROOT/cross-cc"
"$ROOT/qemu-python3" -c 'import numpy, PIL, pytest, hypothesis' || {
  echo "armhf-sysroot: the armhf interpreter cannot import its test tools" >&2
  exit 1
}

rm -rf "$APTDIR"
echo "$want" > "$STAMP"
echo "armhf-sysroot: $ROOT is ready ($(du -sh "$ROOT" | cut -f1))"
