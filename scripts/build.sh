#!/usr/bin/env bash
# Builds the five presets: host (tests), fuzz (libFuzzer targets), win32 (the launcher),
# win64 (the Wine test build) and msvc (the MSVC branch, with clang-cl and lld-link).
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in host fuzz win32 win64 msvc; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)" >/dev/null
done
