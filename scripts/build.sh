#!/usr/bin/env bash
# scripts/build.sh normal|sanitize : configures and builds one build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-normal}
jobs=$(nproc)
case "$kind" in
  normal)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j "$jobs"
    ;;
  sanitize)
    CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DZELTO_SANITIZE=ON -DZELTO_FUZZ=ON -DZELTO_BENCH=OFF >/dev/null
    cmake --build build-sanitize -j "$jobs"
    ;;
  *) echo "usage: scripts/build.sh normal|sanitize" >&2; exit 2 ;;
esac
