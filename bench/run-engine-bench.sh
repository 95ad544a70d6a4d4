#!/bin/sh
# Runs the engine benchmark of the 64-bit build under Wine, in a prefix of
# its own, over the demo and over the large test product (about 35 MB in
# 1,500 files): ./bench/run-engine-bench.sh [ROUNDS]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
cmake --build "$build" --target engine-bench setup setup_large >/dev/null
prefix=$build/bench-prefix
[ -d "$prefix/drive_c" ] || "$root/cmake/wine-prefix.sh" setup "$prefix" >/dev/null
windows() { echo "Z:$1" | tr / '\\'; }
for product in "demo:$build/setup/setup.exe:$build/resources/payload/demo/main" \
               "large:$build/tests/e2e/setup_large.exe:$build/tests/e2e/large/main"; do
    name=${product%%:*}; rest=${product#*:}
    echo "== $name"
    "$root/cmake/wine-run.sh" "$prefix" "$build/bench/engine-bench.exe" \
        "$(windows "${rest%%:*}")" "$(windows "${rest#*:}")" "${1:-7}"
done
