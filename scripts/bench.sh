#!/usr/bin/env bash
# Runs every benchmark of a build.
set -euo pipefail
build=${1:-build/release}
for b in "$build"/bench/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
