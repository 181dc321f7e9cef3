#!/usr/bin/env bash
# Builds the presets named, or all five: host (tests), fuzz (libFuzzer targets), win32 (the
# launcher), win64 (the Wine test build) and msvc (the MSVC branch, with clang-cl and
# lld-link), saying what it builds, each target as it is done, and how long each preset took.
# "for-wine" names the build that Wine runs on this machine: win32, or win64 where no 32-bit
# code runs (scripts/install.sh's answer). A preset's whole output goes to
# build/build-<preset>.log; where a build fails, its last lines are shown.
#   scripts/build.sh [host|fuzz|win32|win64|msvc|for-wine ...]
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
declare -A what=(
    [host]="the host tests against the simulated Win32, with ASan and UBSan"
    [fuzz]="the libFuzzer targets, with clang"
    [win32]="the shipped 32-bit launcher.exe and its Wine test tools, with MinGW-w64"
    [win64]="the 64-bit build of the same sources, for machines that run no 32-bit code"
    [msvc]="the MSVC branch's launcher.exe, with clang-cl and lld-link"
)
presets=("$@")
[ $# -gt 0 ] || presets=(host fuzz win32 win64 msvc)
# Which build Wine 8 runs here, as the Wine scripts themselves decide it (runs_32bit_code).
wine_runs() { scripts/wine.sh 8 bash -c 'source scripts/wine_prefix.sh && runs_32bit_code' > /dev/null 2>&1; }
[[ " ${presets[*]} " != *" for-wine "* ]] || presets=(${presets[*]/for-wine/$(wine_runs && echo win32 || echo win64)})
for preset in "${presets[@]}"; do
    [ -n "${what[$preset]:-}" ] || { echo "build.sh: no preset $preset"; exit 2; }
    log=build/build-$preset.log
    echo "building $preset: ${what[$preset]}"
    started=$SECONDS
    : > "$log"  # there before the progress below reads it, whichever starts first
    { cmake --preset "$preset" && cmake --build --preset "$preset" -j"$(nproc)"; } \
        > "$log" 2>&1 < /dev/null &
    building=$!
    # The build's own progress: each target on one line as it is done.
    printf '    targets:'
    tail -n +1 --pid=$building -f "$log" 2>/dev/null |
        sed -un 's/^\[ *[0-9]*%\] Built target \(.*\)/\1/p' |
        while read -r target; do printf ' %s' "$target"; done || true  # progress only
    echo
    if ! wait $building; then
        echo "building $preset failed; the end of $log:"
        tail -n 25 "$log" | sed 's/^/    /'
        exit 1
    fi
    echo "    done in $((SECONDS - started)) s"
done
