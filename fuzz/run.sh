#!/bin/sh
# Builds one fuzz target with clang's libFuzzer and the address and
# undefined-behaviour sanitizers (fuzz/CMakeLists.txt, in build/fuzz),
# then runs it for a set time on one core.
#   fuzz/run.sh TARGET SECONDS [extra libFuzzer options]
# TARGET is one of
#   mszip cab_decoder        the cabinet decoder and its MSZIP method
#   container                the "CVZB" container reader
#   journal                  what a recovery reads back from a journal file
#   uninstall_settings       the uninstaller's UnInstall.ini values and arguments
#   command_line             the setup program's command line
#   description              mksetup's reading of a product description
#   pe_image                 mksetup's reading and writing of a setup program
# SECONDS 0 only replays the seeds and the inputs found so far, and exits
# (the native build's tests replay the committed seeds without libFuzzer).
# The committed seeds in fuzz/corpus/TARGET are read, never written: new
# inputs go to build/fuzz/corpus-TARGET and crashes to build/fuzz/artifacts.
set -eu
usage="usage: fuzz/run.sh mszip|cab_decoder|container|journal|uninstall_settings|command_line|description|pe_image SECONDS"
target="${1:?$usage}"
seconds="${2:?$usage}"
shift 2
case "$target" in
mszip | cab_decoder | container | journal | uninstall_settings | command_line | description | pe_image) ;;
*) echo "$usage" >&2; exit 2 ;;
esac
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
out="$root/build/fuzz"

cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DFUZZ_WITH_LIBFUZZER=ON >/dev/null
cmake --build "$out" --target "${target}_fuzz" >/dev/null
program="$out/fuzz/${target}_fuzz"
mkdir -p "$out/corpus-$target" "$out/artifacts"
if [ "$seconds" = 0 ]; then
    exec "$program" -runs=0 -rss_limit_mb=1024 "$@" "$out/corpus-$target" "$here/corpus/$target"
fi
exec "$program" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=1024 \
    -artifact_prefix="$out/artifacts/$target-" "$@" "$out/corpus-$target" "$here/corpus/$target"
