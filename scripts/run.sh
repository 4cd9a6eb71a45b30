#!/usr/bin/env bash
# Sets up, builds everything and runs the newest end-user program.
# Until the command-line tool exists, that is the benchmark suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh normal
for b in build/bench/*/bench_*; do
  [ -x "$b" ] || continue
  echo "== $b"
  "$b"
done
