#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, and each fuzz target for a bounded time
# over its committed seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
fuzz_seconds=${ZELTO_FUZZ_SECONDS:-20}

echo "== normal build"
bash scripts/build.sh normal
echo "== tests (normal build)"
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 300

echo "== sanitizer build"
bash scripts/build.sh sanitize
echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize -j "$jobs" --output-on-failure --timeout 600

echo "== fuzzing, ${fuzz_seconds}s per target"
fuzz_failed=0
if [ -f build-sanitize/fuzzers.txt ]; then
  while read -r name; do
    [ -n "$name" ] || continue
    work=$(mktemp -d)
    seeds=fuzz/corpus/$name
    echo "-- $name"
    args=("$work"); [ -d "$seeds" ] && args+=("$seeds")
    if ! build-sanitize/fuzzers/"$name" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -artifact_prefix="$work/" \
        -print_final_stats=0 "${args[@]}" > "$work.log" 2>&1; then
      echo "fuzz target $name failed:"; tail -40 "$work.log"; fuzz_failed=1
    else
      grep -E '^#[0-9]+.*DONE' "$work.log" | tail -1 || true
    fi
    rm -rf "$work" "$work.log"
  done < build-sanitize/fuzzers.txt
fi
if [ "$fuzz_failed" -ne 0 ]; then echo "fuzzing found a fault"; exit 1; fi
normal=$(ctest --test-dir build -N | sed -n 's/^Total Tests: //p')
sanitized=$(ctest --test-dir build-sanitize -N | sed -n 's/^Total Tests: //p')
echo "tests: $((normal + sanitized)) passed, 0 failed"
