#!/usr/bin/env bash
# Makes data/large/dragon_x16.ply: the Stanford dragon after two levels of
# Loop subdivision (13.9M triangles, a smooth surface), for runs at scale:
#   build/bench/morva_pipeline_bench --benchmark_filter=mesh:4
# and opening it in the viewer. Made by scripts/make_large_mesh.py (about 20 s
# and 1.3 GB); kept while it is newer than the script and the dragon.
#
# usage: large-mesh.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
generator="$root/scripts/make_large_mesh.py"
input="$root/data/dragon/dragon_vrip.ply"
output="$root/data/large/dragon_x16.ply"

if [ -f "$output" ] && [ "$output" -nt "$generator" ] && [ "$output" -nt "$input" ]; then
  echo "large mesh: $output is up to date"
  exit 0
fi

# Debian's numpy belongs to the system's python3, which another python3
# earlier on the PATH may hide.
python=""
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c 'import numpy' 2>/dev/null; then
    python="$candidate"
    break
  fi
done
if [ -z "$python" ]; then
  echo "large mesh: needs python3 with numpy; run scripts/setup.sh (it installs python3-numpy)" >&2
  exit 1
fi
if [ ! -f "$input" ]; then
  echo "large mesh: $input is missing; run scripts/setup.sh (it fetches the dragon)" >&2
  exit 1
fi
"$python" "$generator" --levels 2 --input "$input" --output "$output"
