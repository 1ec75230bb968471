#!/usr/bin/env bash
# Fuzz one target for a while: fuzz/run.sh TARGET SECONDS [extra libFuzzer flags]
# Uses fuzz/corpus-TARGET (grown in place, seeded from tests/regression/TARGET)
# and the PDF dictionary; crashes, timeouts and out-of-memory inputs land in
# fuzz/artifacts/TARGET/, and the libFuzzer log in fuzz/artifacts/TARGET/fuzz-0.log.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
target="$1"
seconds="$2"
shift 2
out="$here/artifacts/$target"
mkdir -p "$out" "$here/corpus-$target"
seeds=()
[ -d "$here/../tests/regression/$target" ] && seeds+=("$here/../tests/regression/$target")
cd "$out"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:allocator_may_return_null=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
exec "$here/build/fuzz_$target" -max_total_time="$seconds" -timeout=1 -malloc_limit_mb=1100 -rss_limit_mb=2048 \
  -jobs=1 -workers=1 -dict="$here/pdf.dict" -artifact_prefix="$out/" -print_final_stats=1 "$@" \
  "$here/corpus-$target" "${seeds[@]}"
