#!/bin/sh
# Runs the engine benchmark of the 64-bit build under Wine, in a prefix of
# its own, over the demo and over a 40 MB product (laid out by
# tests/e2e/make_large_product.py and made into a setup program by
# mksetup), and over a product of MEGABYTES as well when given (1024: the
# largest figures; about 5 GB of free disk for a while):
#   ./bench/run-engine-bench.sh [ROUNDS] [MEGABYTES]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
cmake --build "$build" --target engine-bench setup setup_nopayload host_mksetup >/dev/null
prefix=$build/bench-prefix
[ -d "$prefix/drive_c" ] || "$root/cmake/wine-prefix.sh" setup "$prefix" >/dev/null
windows() { echo "Z:$1" | tr / '\\'; }
# The host mksetup the build was given (./build.sh gives the native one),
# else the one it made itself.
mksetup=$(sed -n 's/^SETUP_HOST_MKSETUP:FILEPATH=//p' "$build/CMakeCache.txt")
[ -x "$mksetup" ] || mksetup=$build/host/mksetup

# A product of $1 MB made into a setup program once, kept for later runs.
product() {
    dir=$build/bench/large$1
    if [ ! -f "$dir/setup.exe" ]; then
        python3 "$root/tests/e2e/make_large_product.py" "$dir" "$1" >/dev/null
        "$mksetup" "$dir/large_product.ini" --stub "$build/kit/setup-nopayload.exe" \
            -o "$dir/setup.exe" --quiet
    fi
}

run() {
    echo "== $1"
    "$root/cmake/wine-run.sh" "$prefix" "$build/bench/engine-bench.exe" \
        "$(windows "$2")" "$(windows "$3")" "${ROUNDS:-7}"
}

ROUNDS=${1:-7}
run demo "$build/setup/setup.exe" "$build/resources/payload/demo/main"
product 40
run "40 MB" "$build/bench/large40/setup.exe" "$build/bench/large40/main"
if [ -n "${2:-}" ]; then
    product "$2"
    run "$2 MB" "$build/bench/large$2/setup.exe" "$build/bench/large$2/main"
fi
