#!/bin/sh
# Runs the engine benchmark of the 64-bit build under Wine, in a prefix of
# its own, over the demo and over a 40 MB product (laid out by
# tests/e2e/make_large_product.py and made into a setup program by
# mksetup): ./bench/run-engine-bench.sh [ROUNDS]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
cmake --build "$build" --target engine-bench setup setup_nopayload host_mksetup >/dev/null
prefix=$build/bench-prefix
[ -d "$prefix/drive_c" ] || "$root/cmake/wine-prefix.sh" setup "$prefix" >/dev/null
large=$build/bench/large40
if [ ! -f "$large/setup.exe" ]; then
    python3 "$root/tests/e2e/make_large_product.py" "$large" 40 >/dev/null
    "$build/host/mksetup" "$large/large_product.ini" --stub "$build/kit/setup-nopayload.exe" \
        -o "$large/setup.exe" >/dev/null
fi
windows() { echo "Z:$1" | tr / '\\'; }
for product in "demo:$build/setup/setup.exe:$build/resources/payload/demo/main" \
               "40 MB:$large/setup.exe:$large/main"; do
    name=${product%%:*}; rest=${product#*:}
    echo "== $name"
    "$root/cmake/wine-run.sh" "$prefix" "$build/bench/engine-bench.exe" \
        "$(windows "${rest%%:*}")" "$(windows "${rest#*:}")" "${1:-7}"
done
