#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz/ (or FUZZ_BUILD_DIR) and
# runs every one of them (each fuzz/*_fuzz.cpp: the acceptance rules, and the
# receive step through the universal-switch handler) for a bounded time
# (FUZZ_SECONDS, 60 by default) from a scratch copy of its seed corpus in
# fuzz/corpus/<target without _fuzz>/. Fails on any crash, timeout or
# sanitizer report; the crashing input is kept and its path printed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCUELARK_FUZZ=ON -DCUELARK_TESTS=OFF -DCUELARK_BENCH=OFF >/dev/null
cmake --build "$build" -j 2 --target fuzz_targets

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"

failed=0
for source in "$root"/fuzz/*_fuzz.cpp; do
  name="$(basename "$source" .cpp)"
  corpus="$root/fuzz/corpus/${name%_fuzz}"
  scratch="$(mktemp -d "${TMPDIR:-/tmp}/cuelark-$name.XXXXXX")"
  mkdir -p "$scratch/corpus"
  if [ -d "$corpus" ]; then
    cp -R "$corpus"/. "$scratch/corpus/"
  else
    echo "warning: $name has no seed corpus in $corpus"
  fi
  echo "== $name for ${seconds}s"
  log="$scratch/log"
  if ! "$build/fuzz/$name" -max_total_time="$seconds" -max_len=2000 -timeout=10 \
       -artifact_prefix="$scratch/" "$scratch/corpus" >"$log" 2>&1 ||
     grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:' "$log"; then
    tail -n 60 "$log"
    echo "FAILED: $name (log and crashing input kept in $scratch)"
    failed=1
  else
    grep -E '^Done [0-9]+ runs' "$log" | tail -n 1 || true
    rm -rf "$scratch"
  fi
done
exit "$failed"
