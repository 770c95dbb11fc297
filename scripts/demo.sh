#!/usr/bin/env bash
# Installs what is missing, builds, then builds the hierarchy of the Stanford
# dragon (48K triangles; MORVA_DEMO_MESH picks another mesh) and shows what
# the tool reads back from it; then opens it in the viewer, or without a
# display saves a picture of the viewer's first view beside it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
# The images and hierarchies the viewer's built-in scenes read (data/scene).
"$root/scripts/scene-content.sh"
build="${MORVA_BUILD_DIR:-$root/build}"
mesh="${MORVA_DEMO_MESH:-$root/data/dragon/dragon_vrip_res3.ply}"
out="$build/demo/$(basename "${mesh%.*}").mvh"
mkdir -p "$build/demo"
echo "building $out (the pipeline's log goes to $build/demo/build.log):"
"$build/tools/morva" build "$mesh" "$out" --patch-size 64 --force --verbose 2> "$build/demo/build.log"
echo
"$build/tools/morva" info "$out"

# Show the hierarchy in the viewer when there is a display; otherwise save a
# picture of the view the viewer opens with (in front of the bounding sphere,
# far enough for all of it to fit the 20-degree view with a tenth to spare,
# the error of one pixel) beside the hierarchy.
has_display() {
  [ -n "${DISPLAY:-}" ] || return 1
  if command -v xdpyinfo >/dev/null; then xdpyinfo >/dev/null 2>&1
  elif command -v xset >/dev/null; then xset q >/dev/null 2>&1
  fi
}
echo
if has_display; then
  echo "opening $out in morva-viewer"
  "$build/app/morva-viewer" "$out"
else
  picture="${out%.mvh}.png"
  read -r x y z r < <("$build/tools/morva" info "$out" | sed -n 's/^bounding sphere: //p')
  eye_z=$(awk -v z="$z" -v r="$r" 'BEGIN { print z + 1.1 * r / sin(10 * atan2(0, -1) / 180) }')
  echo "no display: saving the viewer's first view to $picture instead"
  "$build/tools/morva" render "$out" -o "$picture" --size 800x800 --error 1 \
    --eye "$x,$y,$eye_z" --center "$x,$y,$z" > "$build/demo/render.log"
  echo "saved $picture"
fi
