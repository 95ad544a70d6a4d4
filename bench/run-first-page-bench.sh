#!/bin/sh
# Times the 64-bit setup.exe from its start to its first page under Wine,
# with the server already running, against a yardstick program (Wine's own
# winver dialog unless another program is given):
#   ./bench/run-first-page-bench.sh [YARDSTICK.EXE] [ROUNDS]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
cmake --build "$build" --target first-page-bench setup >/dev/null
prefix=$build/bench-prefix
[ -d "$prefix/drive_c" ] || "$root/cmake/wine-prefix.sh" setup "$prefix" >/dev/null
windows() { echo "Z:$1" | tr / '\\'; }
yardstick=${1:-C:\\windows\\system32\\winver.exe}
case "$yardstick" in /*) yardstick=$(windows "$yardstick") ;; esac
exec "$root/cmake/wine-run.sh" "$prefix" "$build/bench/first-page-bench.exe" \
    "$(windows "$build/setup/setup.exe")" "$yardstick" "${2:-9}"
