#!/usr/bin/env bash
# Installs what is missing, builds (warnings as errors), makes the scene
# content, and runs every test; then the unit and OpenGL tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and every fuzzer briefly
# on its seeds. MORVA_QUICK=1 stops after the plain tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" -DMORVA_WERROR=ON
# The images and hierarchies the viewer's built-in scenes read (data/scene).
"$root/scripts/scene-content.sh"
(
  cd "${MORVA_BUILD_DIR:-$root/build}"
  # The viewer's window tests (label gui) need an X server: a virtual one.
  if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --parallel "$(nproc)"
  else
    echo "test: xvfb-run is missing, the window tests (label gui) are skipped" >&2
    ctest --output-on-failure --parallel "$(nproc)" -LE gui
  fi
)
[ "${MORVA_QUICK:-0}" = 1 ] && exit 0
"$root/scripts/sanitize.sh"
"$root/scripts/fuzz.sh" 5
