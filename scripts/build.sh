#!/usr/bin/env bash
# Builds the four presets: host (tests), fuzz (libFuzzer targets), win32 (the launcher) and
# win64 (the Wine test build).
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in host fuzz win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)" >/dev/null
done
