#!/usr/bin/env bash
# Installs what is missing, builds, and shows what the tool makes of the bundled
# sample hierarchy.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${MORVA_BUILD_DIR:-$root/build}"
"$build/tools/morva" info "$root/tests/data/icosphere2.mvh"
