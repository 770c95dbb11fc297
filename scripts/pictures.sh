#!/usr/bin/env bash
# Makes the README's pictures in docs/pictures/: the viewer's window with the
# dragon, the dragon's cut at 1 pixel beside its full mesh, an impostor atlas
# side and its depth, a generated scene and the plot of a camera path's
# replay. Run it by hand whenever drawing changes, look at every picture,
# and commit them; no test runs it. It prints the triangle counts the
# README's captions quote.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
"$root/scripts/scene-content.sh"
build="${MORVA_BUILD_DIR:-$root/build}"
morva="$build/tools/morva"
out="$root/docs/pictures"
work="$build/pictures"
mkdir -p "$out" "$work"

echo "pictures: building the 871K-triangle dragon's hierarchy"
mvh="$work/dragon.mvh"
"$morva" build "$root/data/dragon/dragon_vrip.ply" "$mvh" --patch-size 64 --force

# From in front, far enough for the bounding sphere to fit the view, as the
# viewer opens a file.
read -r x y z r < <("$morva" info "$mvh" | sed -n 's/^bounding sphere: //p')
eye_z=$(awk -v z="$z" -v r="$r" 'BEGIN { print z + 1.1 * r / sin(10 * atan2(0, -1) / 180) }')
view=(--eye "$x,$y,$eye_z" --center "$x,$y,$z" --size 480x480)

echo "pictures: the full mesh and the cut at 1 pixel"
"$morva" render "$mvh" -o "$out/dragon-full.png" --full "${view[@]}" | grep '^triangles'
"$morva" render "$mvh" -o "$out/dragon-cut-1px.png" --error 1 "${view[@]}" | grep '^triangles\|^impostors'

echo "pictures: an atlas side and its depth"
rm -rf "$work/atlases"
"$morva" sidefiles "$mvh" --dump "$work/atlases" > /dev/null
# The atlas with the most content: its picture is the largest file.
largest=$(ls -S "$work/atlases"/atlas*-front.png | head -n 1)
cp "$largest" "$out/atlas-front.png"
cp "${largest%.png}-depth.png" "$out/atlas-front-depth.png"

echo "pictures: a generated scene"
"$morva" scene 7 -o "$work/seven.scn" > /dev/null
"$morva" render --scene "$work/seven.scn" -o "$out/scene.png" --eye 0,4,14 --center 0,1.5,0 --size 640x400 > /dev/null

echo "pictures: the replay of a camera path towards the dragon"
path="$work/approach.txt"
{
  printf 'VWalkPath\nRepeat?:\nfalse\nreference orientation:\n1 0 0\n0 1 0\n0 0 1\n'
  printf 'number of entries:\n60\nentries:\n'
  for k in $(seq 0 59); do
    printf -- '---------------\n%s\n1\n' "$k"
    awk -v k="$k" -v x="$x" -v y="$y" -v z="$z" 'BEGIN { print x, y, z + 30 - k * 28.5 / 59 }'
    printf '0 0 -1\n0 1 0\n'
  done
} > "$path"
(cd "$work" && "$morva" bench --path "$path" "$mvh" --error 1 --size 480x480 --plot "$out/replay.png" > /dev/null)

echo "pictures: the viewer's window"
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/app/morva-viewer" --grab "$out/viewer.png" "$mvh" > /dev/null 2>&1

ls -l "$out"
