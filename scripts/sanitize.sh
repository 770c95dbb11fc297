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
export ASAN_OPTIONS="abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
jobs="$(nproc)"
# Leaks are checked where no OpenGL driver is loaded. Mesa unloads its driver
# before the leak check runs at exit, leaving a few hundred bytes that cannot
# be traced to their caller or told apart from ours; the processes that draw
# (the gl tests, and the morva tool the tool tests start) run without it.
status=0
ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=1" \
  ctest --output-on-failure --parallel "$jobs" -L unit -E '^MorvaTool\.' || status=1
ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" \
  ctest --output-on-failure --parallel "$jobs" -L gl || status=1
ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" \
  ctest --output-on-failure --parallel "$jobs" -R '^MorvaTool\.' || status=1
exit $status
