#!/usr/bin/env bash
# Build every fuzz target (and the seed extractor) into fuzz/build with clang,
# AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
: "${CXX:=clang++}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$here" -B "$here/build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j "${JOBS:-2}" "$@"
