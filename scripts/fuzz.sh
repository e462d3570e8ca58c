#!/usr/bin/env bash
# Fuzzes the bitmap reader for a number of seconds (default 60):
#   scripts/fuzz.sh [SECONDS]
# Needs the host build (make build-host). Inputs that reach new code are kept
# in build/fuzz/corpus, so each run goes on from the last; a crashing input is
# written to build/fuzz/artifacts/ and the script fails.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
fuzzer=$root/build/host/fuzz/dib_reader_fuzz
if [ ! -x "$fuzzer" ]; then
  echo "No fuzz target at $fuzzer; build the host preset first (make build-host)." >&2
  exit 1
fi

mkdir -p "$root/build/fuzz/corpus" "$root/build/fuzz/artifacts"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$root/build/fuzz/artifacts/" \
  "$root/build/fuzz/corpus" "$root/fuzz/corpus"
