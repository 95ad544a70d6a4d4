#!/bin/sh
# Builds one fuzz target with clang's libFuzzer and the address and
# undefined-behaviour sanitizers, then runs it for a set time on one core.
#   fuzz/run.sh TARGET SECONDS [extra libFuzzer options]
# TARGET is one of
#   mszip cab_decoder        the cabinet decoder and its MSZIP method
#   container                the "CVZB" container reader
#   journal                  what a recovery reads back from a journal file
#   uninstall_settings       the uninstaller's UnInstall.ini values and arguments
#   command_line             the setup program's command line
#   description              mksetup's reading of a product description
#   pe_image                 mksetup's reading and writing of a setup program
# SECONDS 0 only replays the seeds and the inputs found so far, and exits.
# The committed seeds in fuzz/corpus/TARGET are read, never written: new
# inputs go to build/fuzz/corpus-TARGET and crashes to build/fuzz/artifacts.
# Parts of the setup program that name Win32 build natively against the
# stand-in in fuzz/standin (types and a few calls; nothing is touched).
set -eu
usage="usage: fuzz/run.sh mszip|cab_decoder|container|journal|uninstall_settings|command_line|description|pe_image SECONDS"
target="${1:?$usage}"
seconds="${2:?$usage}"
shift 2
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
out="$root/build/fuzz"

cabinet="cab/cab_decoder.cpp cab/cab_check.cpp cab/entry_names.cpp cab/mszip.cpp"
standin="fuzz/standin/windows_standin.cpp setup/paths.cpp setup/text.cpp"
mksetup="tools/mksetup/description.cpp tools/mksetup/execution_level.cpp tools/mksetup/files.cpp
    tools/mksetup/output.cpp tools/mksetup/pe_image.cpp tools/mksetup/setup_resources.cpp tools/mksetup/texts.cpp"
includes="-I$root"
case "$target" in
mszip | cab_decoder) sources="$cabinet" ;;
container) sources="cab/container_format.cpp cab/container_encoder.cpp" ;;
journal) sources="rollback/journal_reading.cpp rollback/records.cpp $standin"; includes="-I$here/standin $includes" ;;
uninstall_settings) sources="uninstaller/arguments.cpp $standin"; includes="-I$here/standin $includes" ;;
command_line) sources="app/command_line.cpp $standin"; includes="-I$here/standin $includes" ;;
description | pe_image) sources="$mksetup" ;;
*) echo "$usage" >&2; exit 2 ;;
esac

mkdir -p "$out/corpus-$target" "$out/artifacts"
(cd "$root" && clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    $includes "$here/${target}_fuzz.cpp" $sources -lz -o "$out/$target")
if [ "$seconds" = 0 ]; then
    exec "$out/$target" -runs=0 -rss_limit_mb=1024 "$@" "$out/corpus-$target" "$here/corpus/$target"
fi
exec "$out/$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=1024 \
    -artifact_prefix="$out/artifacts/$target-" "$@" "$out/corpus-$target" "$here/corpus/$target"
