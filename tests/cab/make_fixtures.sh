#!/bin/sh
# Makes the gcab fixture cabinets for the decoder and cabtool tests:
#   make_fixtures.sh OUTDIR
# OUTDIR/payload holds the source files (text, noise, empty, nested, many
# small ones); the cabinets hold them as stored, as MSZIP, and a set of 300
# small files. Cabinets nobody in the project made are the point.
set -eu
out="$1"
rm -rf "$out"
mkdir -p "$out/payload/docs/deep" "$out/payload/many"
cd "$out/payload"
seq 1 30000 | awk '{ print "line " $1 " of the licence text, clause " ($1 * 7) % 1000 }' > docs/licence.txt
head -c 150000 /dev/urandom > noise.bin
: > docs/deep/empty.txt
seq 1 700 | awk '{ printf "%s", ($1 % 3 ? "ab" : "xyz") }' > docs/deep/short.txt
i=0
while [ $i -lt 300 ]; do
    echo "small file $i" > many/f$i.txt
    i=$((i + 1))
done
gcab -c "$out/stored.cab" docs/licence.txt noise.bin docs/deep/empty.txt docs/deep/short.txt
gcab -c -z "$out/mszip.cab" docs/licence.txt noise.bin docs/deep/empty.txt docs/deep/short.txt
gcab -c -z "$out/many.cab" many/*
gcab -c "$out/empty_only.cab" docs/deep/empty.txt
