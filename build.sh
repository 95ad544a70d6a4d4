#!/bin/bash
# The project's two commands, for a fresh Debian 12 machine as root:
#   ./build.sh run           build setup.exe with the demo product and run it under Wine
#   ./build.sh test [--full] build all three configurations and run every test
#                            (--full: the cut tests cut every step of every run)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

PACKAGES=(cmake ninja-build g++ make python3 git
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev zlib1g-dev
          googletest libbenchmark-dev clang libclang-rt-14-dev
          wine wine64 gcab osslsigncode openssl xvfb xauth x11-utils imagemagick fonts-wine fonts-wqy-microhei
          qemu-system-x86 mmdebstrap)

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# configure_and_build PRESET [TARGET...]: the Windows builds take the
# native build's mksetup rather than building one of their own.
configure_and_build() {
    local preset=$1
    shift
    echo "== building $preset"
    local host=()
    [ "$preset" = native ] || host=(-DSETUP_HOST_MKSETUP="$ROOT/build/native/tools/mksetup/mksetup")
    cmake --preset "$preset" "${host[@]}" >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build --preset "$preset" -j"$(nproc)" --target "$@"
    else
        cmake --build --preset "$preset" -j"$(nproc)"
    fi
}

cmd_test() {
    local full=false
    [ "${1:-}" = --full ] && full=true
    install_packages
    local started=$SECONDS
    # The guest's image needs only the packages: it is built (or found in
    # the machine's cache, tools/guest/image-dir.sh) beside the compilers.
    local guest=false image_done="$ROOT/build/guest-image.done"
    if command -v qemu-system-x86_64 >/dev/null; then
        guest=true
        mkdir -p "$ROOT/build"
        rm -f "$image_done"
        { rc=0
          "$ROOT/tools/guest/build-image.sh" >"$ROOT/build/guest-image.log" 2>&1 </dev/null || rc=$?
          echo "$rc" >"$image_done"; } &
    fi
    configure_and_build native
    # Of the shipped 32-bit build, what ships and what the guest runs.
    configure_and_build win32 setup setup_nopayload uninstaller mksetup guest32_programs
    configure_and_build win64
    echo "== native tests"
    ctest --preset native
    echo "== Windows tests under Wine"
    local status=0
    if $full; then
        SETUP_CUT_EVERY_STEP=1 ctest --preset win64 || status=$?
    else
        ctest --preset win64 || status=$?
    fi
    # The shipped 32-bit programs run in a qemu guest (tools/guest) once
    # its image is there, after the Windows tests and not beside them: the
    # guest's software emulation shares the machine's processors, and
    # beside the Windows tests it ran ten times slower (a wizard page took
    # minutes to come). A failed image build is tried again, and reported,
    # by the guest's own test.
    echo "== 32-bit programs in the guest"
    if $guest; then
        while [ ! -f "$image_done" ]; do sleep 5; done
        cat "$ROOT/build/guest-image.log"
        ctest --preset win32 || status=$?
    else
        echo "skipped: no qemu-system-x86_64 on this machine"
        ctest --preset win32 -L size || status=$?
    fi
    echo "== ./build.sh test took $(( SECONDS - started )) s after the packages"
    return $status
}

cmd_run() {
    install_packages
    configure_and_build native mksetup
    configure_and_build win32 setup setup_nopayload
    configure_and_build win64 setup demo_walk wizard_shots
    "$ROOT/tools/run-demo.sh" "$ROOT/build/win32" "$ROOT/build/win64"
}

case "${1:-}" in
    run) cmd_run ;;
    test) cmd_test "${2:-}" ;;
    *) echo "usage: $0 run|test [--full]" >&2; exit 2 ;;
esac
