#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a bounded time, starting
# from its seed corpus; fails on any crash, failed check, leak, sanitizer report or hang.
#
#   bash scripts/fuzz.sh                        every target, FUZZ_SECONDS (30) each
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh engine_fuzzer
#
# FUZZ_SECONDS  seconds per target (default 30; the engine target gets twice that)
# FUZZ_JOBS     targets run side by side (default: the number of cores)
# Inputs found along the way stay in build/fuzz/corpus/<target> and are used again on the
# next run; a failing input is written to build/fuzz/artifacts/ (replay it with
# build/fuzz/fuzz/<target> <file>).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-30}
jobs=${FUZZ_JOBS:-$(nproc)}
build="$root/build/fuzz"

bash "$root/scripts/install-deps.sh"

all=(packet_assembler_fuzzer engine_fuzzer settings_fuzzer profile_file_fuzzer lists_fuzzer
  safe_format_fuzzer)
if [ $# -gt 0 ]; then targets=("$@"); else targets=("${all[@]}"); fi

started=$(date +%s)
echo "== fuzz: building ${targets[*]} with clang-14"
mkdir -p "$build"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DORV_BUILD_GUI=OFF -DORV_BUILD_TESTS=OFF -DORV_BUILD_FUZZERS=ON >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
built=$(date +%s)

# The targets write their scratch files under TMPDIR: memory is faster than the disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
# A small quarantine still catches a use after free within one input, and spares the
# page faults of ever fresh memory (a third of the engine target's time otherwise).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16:malloc_context_size=10}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/artifacts" "$build/logs"

# One target: its own corpus copy grows in build/, the seeds stay as committed. The engine
# takes the longest per input and covers the most, so it gets twice the time.
run_one() {
  local target=$1
  local time=$seconds
  [ "$target" = engine_fuzzer ] && time=$((seconds * 2))
  local corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  "$build/fuzz/$target" -max_total_time="$time" -timeout=20 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
    "$corpus" "$root/fuzz/corpus/$target" >"$build/logs/$target.log" 2>&1
}

echo "== fuzz: running each target for ${seconds}s (the engine $((seconds * 2))s), $jobs at a time"
declare -A running=()  # pid -> target
failed=()
passed=0
# Waits for one target to end and reports it.
finish_one() {
  local pid status=0
  wait -n -p pid || status=$?
  local target=${running[$pid]}
  unset "running[$pid]"
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    echo "fuzz: $target ok: $(grep -m1 -o 'Done [0-9]* runs in [0-9]* second(s)' "$build/logs/$target.log")"
  else
    failed+=("$target")
    echo "fuzz: $target FAILED (status $status); the end of its log ($build/logs/$target.log):"
    tail -n 60 "$build/logs/$target.log"
  fi
}
# The engine first: it runs longest.
ordered=()
for target in "${targets[@]}"; do [ "$target" = engine_fuzzer ] && ordered+=("$target"); done
for target in "${targets[@]}"; do [ "$target" != engine_fuzzer ] && ordered+=("$target"); done
for target in "${ordered[@]}"; do
  while [ "${#running[@]}" -ge "$jobs" ]; do finish_one; done
  run_one "$target" &
  running[$!]=$target
done
while [ "${#running[@]}" -gt 0 ]; do finish_one; done

echo "fuzz: build $((built - started)) s, runs $(($(date +%s) - built)) s"
echo "fuzz: $passed passed, ${#failed[@]} failed"
[ "${#failed[@]}" -eq 0 ]
