#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs them side by side.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]   (default 60 s, every target)
# FUZZ_RUNS=N runs each target for N executions instead of a time limit.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCORVALEN_FUZZ=ON -DCORVALEN_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j"$(nproc)" >/dev/null
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=($(sed -n 's/^corvalen_fuzz_target(\([a-z_]*\) .*/\1/p' fuzz/CMakeLists.txt))
limit=(-max_total_time="$seconds")
[ -z "${FUZZ_RUNS:-}" ] || limit=(-runs="$FUZZ_RUNS")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=${FUZZ_TMPDIR:-/dev/shm}
[ -d "$TMPDIR" ] || export TMPDIR=/tmp
# The targets run side by side, each for as long as alone.
pids=()
for t in "${targets[@]}"; do
  corpus="$work/$t"
  mkdir -p "$corpus"
  cp -r fuzz/corpus/"$t"/. "$corpus"/ 2>/dev/null || true
  # The code under test prints its console lines; keep only the fuzzer's report.
  "$build_dir/fuzz/$t" "${limit[@]}" -max_len=4096 -artifact_prefix="$work/$t-" "$corpus" \
    >/dev/null 2>"$work/$t.log" &
  pids+=($!)
done
failed=()
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  echo "== $t"
  if wait "${pids[$i]}"; then
    grep -E "^Done|^#[0-9]+ +DONE" "$work/$t.log" | tail -1
  else
    cat "$work/$t.log"
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  mkdir -p fuzz-artifacts
  cp "$work"/*-crash-* "$work"/*-leak-* "$work"/*-timeout-* fuzz-artifacts/ 2>/dev/null || true
  echo "fuzz: ${failed[*]} failed"
  exit 1
fi
