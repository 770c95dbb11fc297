#!/usr/bin/env bash
# Makes the images and hierarchies the viewer's built-in scenes read:
# generates them (scripts/make_scene_content.py) and builds each mesh into a
# hierarchy with the built morva tool. What exists and is up to date is kept.
#
# usage: scene-content.sh [OUTDIR]   (default: data/scene of the checkout)
# Layout under OUTDIR: textures/*.png, meshes/boing747_hires.mvh, and
# test/{plane1_ih_c2,M_TREE4_branches,M_TREE4_leafs}.mvh (each beside its .ply).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVA_BUILD_DIR:-$root/build}"
out="${1:-$root/data/scene}"
generator="$root/scripts/make_scene_content.py"
meshes=(meshes/boing747_hires test/plane1_ih_c2 test/M_TREE4_branches test/M_TREE4_leafs)
images=(textures/terrain.png)
for face in BK DN FR UP RT LF; do images+=("textures/cloudy_noon_${face}_256.png"); done

# Whether $1 exists and is newer than every later argument.
up_to_date() {
  local target="$1"
  shift
  [ -f "$target" ] || return 1
  for source in "$@"; do [ "$target" -nt "$source" ] || return 1; done
}

stale=0
for f in "${images[@]}" "${meshes[@]/%/.ply}"; do
  up_to_date "$out/$f" "$generator" || stale=1
done
if [ "$stale" = 1 ]; then
  echo "scene content: generating into $out"
  python3 "$generator" "$out"
fi

# A hierarchy is rebuilt when its mesh or the tool that wrote it changed.
tool="$build/tools/morva"
log="$out/build.log"
for mesh in "${meshes[@]}"; do
  if up_to_date "$out/$mesh.mvh" "$out/$mesh.ply" "$tool"; then continue; fi
  [ -n "${logged:-}" ] || : > "$log"
  logged=1
  echo "scene content: building $mesh.mvh"
  if ! "$tool" build "$out/$mesh.ply" "$out/$mesh.mvh" --patch-size 64 --force --verbose >> "$log" 2>&1; then
    echo "scene content: building $mesh.mvh failed; the tool's output is in $log" >&2
    exit 1
  fi
done
