#!/usr/bin/env bash
# Builds the three presets: host (tests), win32 (the launcher), win64 (the Wine test build).
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in host win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)" >/dev/null
done
