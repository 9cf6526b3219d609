#!/usr/bin/env bash
# Runs every fuzz target of a build briefly over its seed corpus: fuzz/run-all.sh <build-dir> <seconds>
set -euo pipefail
BUILD=$1
SECONDS_EACH=${2:-20}
HERE=$(cd "$(dirname "$0")" && pwd)
status=0
for target in "$BUILD"/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  work=$(mktemp -d)
  cp -r "$HERE/corpus/$name/." "$work/" 2>/dev/null || true
  echo "== $name for ${SECONDS_EACH}s"
  if ! "$target" -max_total_time="$SECONDS_EACH" -print_final_stats=0 "$work" > "$work.log" 2>&1; then
    tail -40 "$work.log"
    status=1
  fi
  rm -rf "$work" "$work.log"
done
exit $status
