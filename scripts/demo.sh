#!/usr/bin/env bash
# Installs what is missing, builds, then builds the hierarchy of the Stanford
# dragon (48K triangles; MORVA_DEMO_MESH picks another mesh) and shows what
# the tool reads back from it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${MORVA_BUILD_DIR:-$root/build}"
mesh="${MORVA_DEMO_MESH:-$root/data/dragon/dragon_vrip_res3.ply}"
out="$build/demo/$(basename "${mesh%.*}").mvh"
mkdir -p "$build/demo"
"$build/tools/morva" build "$mesh" "$out" --patch-size 64 --force > "$build/demo/build.log"
echo "built $out (the pipeline's log is in $build/demo/build.log):"
tail -n 8 "$build/demo/build.log"
echo
"$build/tools/morva" info "$out"
