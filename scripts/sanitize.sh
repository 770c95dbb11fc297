#!/usr/bin/env bash
# Builds everything but the benchmarks with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-sanitize/, and runs the unit and
# OpenGL tests under them. (Warnings as errors belong to the plain build:
# the sanitizers' instrumentation makes gcc guess at uninitialised values.) Any sanitizer report fails the
# run. The window tests (label gui) are left to the plain build: Qt's own
# start-up under Xvfb is not what this run is for.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVA_SANITIZE_BUILD_DIR:-$root/build-sanitize}"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
MORVA_BUILD_DIR="$build" "$root/scripts/build.sh" -DMORVA_SANITIZE=address,undefined -DMORVA_WERROR=OFF \
  -DMORVA_BUILD_BENCH=OFF "${launcher[@]}"
# Mesa's drivers keep allocations for the life of the process; leaks inside
# them are not ours to report.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" -LE gui
