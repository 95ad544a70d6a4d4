#!/bin/sh
# Builds one fuzz target with clang's libFuzzer and the address and
# undefined-behaviour sanitizers, then runs it for a set time on one core.
#   fuzz/run.sh mszip|cab_decoder SECONDS [extra libFuzzer options]
# The committed seeds in fuzz/corpus/TARGET are read, never written: new
# inputs go to build/fuzz/corpus-TARGET and crashes to build/fuzz/artifacts.
set -eu
target="${1:?usage: fuzz/run.sh TARGET SECONDS}"
seconds="${2:?usage: fuzz/run.sh TARGET SECONDS}"
shift 2
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
out="$root/build/fuzz"
mkdir -p "$out/corpus-$target" "$out/artifacts"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$here/${target}_fuzz.cpp" "$root/cab/cab_decoder.cpp" "$root/cab/cab_check.cpp" \
    "$root/cab/entry_names.cpp" "$root/cab/mszip.cpp" \
    -lz -o "$out/$target"
exec "$out/$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=1024 \
    -artifact_prefix="$out/artifacts/$target-" "$@" "$out/corpus-$target" "$here/corpus/$target"
