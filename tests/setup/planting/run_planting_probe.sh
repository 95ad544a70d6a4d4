#!/bin/sh
# Copies the probe next to a planted RICHED32.DLL and runs it there, with
# Wine told to prefer a native riched32 as Windows would.
#   run_planting_probe.sh WINE_RUN PREFIX PROBE PLANTED_DLL WORKDIR
set -e
wine_run=$1; prefix=$2; probe=$3; dll=$4; work=$5
rm -rf "$work"
mkdir -p "$work"
cp "$probe" "$work/probe.exe"
cp "$dll" "$work/RICHED32.DLL"
cd "$work"
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;riched32=n,b" "$wine_run" "$prefix" "$work/probe.exe"
