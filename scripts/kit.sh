#!/usr/bin/env bash
# Makes the kit that shows launcher.exe on a real Windows: build/kit/launcher-kit/, a folder a
# vendor copies to Windows Sandbox, a virtual machine or a test machine, and the same folder
# as build/launcher-kit.zip, the same bytes for the same commit and launcher.exe. It holds
# README.txt, run.cmd and sandbox.cmd (tests/kit/), and in programs\ launcher.exe, the
# end-to-end driver and what it runs beside the launcher (tests/e2e/, stack_smash.exe).
#   scripts/kit.sh [--launcher <launcher.exe>]
# --launcher: a signed launcher.exe, such as a release's; without it, this build's.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=build/win32/launcher.exe
if [ $# -gt 0 ]; then
    if [ $# -ne 2 ] || [ "$1" != --launcher ] || [ ! -f "$2" ]; then
        echo "usage: scripts/kit.sh [--launcher <launcher.exe>]" >&2
        exit 2
    fi
    launcher=$(realpath "$2")
fi
scripts/install.sh --build-only
mkdir -p build && echo "building the kit's programs (build/win32)"
{ cmake --preset win32 && cmake --build --preset win32 -j"$(nproc)" --target launcher stack_smash e2e standin \
      planted planted_progman starter; } > build/build-kit.log 2>&1 || { tail -n 25 build/build-kit.log; exit 1; }
kit=build/kit/launcher-kit zip=$PWD/build/launcher-kit.zip
rm -rf build/kit "$zip"
mkdir -p "$kit/programs"
tools=build/win32/tests/e2e
cp "$launcher" "$kit/programs/launcher.exe"
cp "$tools/e2e.exe" "$tools/standin.exe" "$tools/planted_progman.exe" "$tools/starter.exe" \
   "$tools/planted.dll" build/win32/stack_smash.exe "$kit/programs/"
tests/kit/check_imports.sh "$kit/programs"
cp tests/kit/run.cmd tests/kit/sandbox.cmd "$kit/"
commit=$(git rev-parse HEAD)$(git diff --quiet HEAD -- || echo ", with changes not committed")
about="SHA-256 $(sha256sum "$launcher" | cut -d' ' -f1)"
[ "$launcher" = build/win32/launcher.exe ] && about="$about, built from that commit"
sed -e "s|@COMMIT@|$commit|" -e "s|@LAUNCHER@|$about|" tests/kit/README.txt > "$kit/README.txt"
# The same bytes every time: the commit's time on every file, fixed modes, a sorted list, no
# extra fields, and the time zone fixed for zip's local times.
stamp=$(git log -1 --format=%ct)
find "$kit" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
find "$kit" -exec touch -h -d "@$stamp" {} +
(cd build/kit && find launcher-kit -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q "$zip" -@)
echo "the kit: $kit/ and $zip ($(stat -c %s "$zip") bytes, SHA-256 $(sha256sum "$zip" | cut -d' ' -f1))"
