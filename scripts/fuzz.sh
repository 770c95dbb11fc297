#!/usr/bin/env bash
# Builds the project and its libFuzzer targets with clang (ASan and UBSan,
# warnings as errors) and runs every fuzzer for SECONDS (default 5, the smoke
# run) on a scratch copy of its seeds. Exits non-zero, naming the fuzzer and
# the input it saved, when any run finds something.
#
#   scripts/fuzz.sh [SECONDS]
#
# MORVA_FUZZ_BUILD_DIR: the build folder (default build-fuzz); MORVA_FUZZ_JOBS:
# parallel compile jobs (default: every core).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-5}"
build="${MORVA_FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${MORVA_FUZZ_JOBS:-$(nproc)}"

# Fuzzer, its seed folder under tests/data, and the longest input it is given.
fuzzers=(
  "morva_read_fuzzer     fuzz-seeds       8192"
  "morva_ply_fuzzer      fuzz-seeds-ply   16384"
  "morva_3ds_fuzzer      fuzz-seeds-3ds   16384"
  "morva_x3d_fuzzer      fuzz-seeds-x3d   16384"
  "morva_scene_fuzzer    fuzz-seeds-scene 8192"
  "morva_geometry_fuzzer fuzz-seeds-mv3   32768"
  "morva_textures_fuzzer fuzz-seeds-mv2   32768"
  "morva_path_fuzzer     fuzz-seeds-path  4096"
)

if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi

MORVA_WITH_FUZZERS=1 "$root/scripts/setup.sh"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVA_BUILD_FUZZERS=ON -DMORVA_BUILD_TESTS=OFF -DMORVA_BUILD_BENCH=OFF \
  -DMORVA_SANITIZE=address,undefined -DMORVA_WERROR=ON "${launcher[@]}" >/dev/null
# Everything, not only the fuzzers: the one clang build with warnings as errors.
cmake --build "$build" --parallel "$jobs"

# Corpora grow while fuzzing: the seeds in the repository stay as they are.
scratch="$(mktemp -d "${TMPDIR:-/tmp}/morva-fuzz.XXXXXX")"
failed=()
for entry in "${fuzzers[@]}"; do
  read -r name seeds max_len <<<"$entry"
  corpus="$scratch/$name/corpus" artifacts="$scratch/$name/found"
  mkdir -p "$corpus" "$artifacts"
  cp "$root/tests/data/$seeds"/* "$corpus/"
  log="$scratch/$name/log.txt"
  if "$build/fuzz/$name" "$corpus" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
       -rss_limit_mb=4096 -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "fuzz: $name: ${runs:-?} runs in ${seconds} s, nothing found"
  else
    found="$(find "$artifacts" -type f -print -quit)"
    echo "fuzz: $name FOUND A FAULT; input saved as ${found:-(none saved, see the log)}" >&2
    tail -n 40 "$log" >&2
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: faults found by ${failed[*]}; logs and inputs kept in $scratch" >&2
  echo "fuzz: replay one with $build/fuzz/FUZZER INPUT" >&2
  exit 1
fi
rm -rf "$scratch"
