#!/usr/bin/env bash
# Installs what is missing, builds, makes the scene content, and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
# The images and hierarchies the viewer's built-in scenes read (data/scene).
"$root/scripts/scene-content.sh"
cd "${MORVA_BUILD_DIR:-$root/build}"
# The viewer's window tests (label gui) need an X server: a virtual one.
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --parallel "$(nproc)"
else
  echo "test: xvfb-run is missing, the window tests (label gui) are skipped" >&2
  ctest --output-on-failure --parallel "$(nproc)" -LE gui
fi
