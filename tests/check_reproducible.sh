#!/usr/bin/env bash
# Builds launcher.exe twice from the committed sources, in two folders at different paths,
# and checks that the two files are byte for byte the same: no time stamps, no build paths.
# Usage: check_reproducible.sh [preset]; the shipped win32 build unless another is named.
set -euo pipefail
release=$(dirname "$0")/../release
preset=${1:-win32}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/second"
for tree in "$scratch/one" "$scratch/second/tree"; do
    "$release/build_commit.sh" HEAD "$tree" "$preset" > /dev/null
done
sha256sum "$scratch/one/build/$preset/launcher.exe" "$scratch/second/tree/build/$preset/launcher.exe" |
    awk '{ print $1 }' | uniq | { read -r first; read -r second || true
        if [ -n "${second:-}" ]; then echo "FAIL: the two builds differ"; exit 1; fi
        echo "launcher.exe ($preset) built twice at two paths: sha256 $first both times"; }
