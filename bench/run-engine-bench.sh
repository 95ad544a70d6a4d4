#!/bin/sh
# Runs the engine benchmark of the 64-bit build under Wine, in a prefix of
# its own: ./bench/run-engine-bench.sh [ROUNDS]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
cmake --build "$build" --target engine-bench >/dev/null
prefix=$build/bench-prefix
[ -d "$prefix/drive_c" ] || "$root/cmake/wine-prefix.sh" setup "$prefix" >/dev/null
exec "$root/cmake/wine-run.sh" "$prefix" "$build/bench/engine-bench.exe" \
    "Z:$(echo "$build/resources/payload/demo/main" | tr / '\\')" "${1:-7}"
