#!/usr/bin/env bash
# Builds launcher.exe twice from the committed sources, in two folders at different paths,
# and checks that the two files are byte for byte the same: no time stamps, no build paths.
set -euo pipefail
scripts=$(dirname "$0")/../scripts
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for tree in "$scratch/one" "$scratch/second/tree"; do
    "$scripts/build_commit.sh" HEAD "$tree"
done
sha256sum "$scratch/one/build/win32/launcher.exe" "$scratch/second/tree/build/win32/launcher.exe" |
    awk '{ print $1 }' | uniq | { read -r first; read -r second || true
        if [ -n "${second:-}" ]; then echo "FAIL: the two builds differ"; exit 1; fi
        echo "launcher.exe built twice at two paths: sha256 $first both times"; }
