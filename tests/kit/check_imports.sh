#!/usr/bin/env bash
# The kit's programs import only what tests/kit/imports.txt allows: calls that Windows XP SP3
# has, from known DLLs. launcher.exe has its own, stricter list (tests/check_binary.sh).
# Usage: check_imports.sh <folder of the kit's programs>
set -euo pipefail
allowed=$(grep -v '^#' "$(dirname "$0")/imports.txt")
failed=0 programs=0
for program in "$1"/*.exe "$1"/*.dll; do
    [ "${program##*/}" != launcher.exe ] || continue
    programs=$((programs + 1))
    imports=$(i686-w64-mingw32-objdump -p "$program" |
        awk '/DLL Name:/ { dll = toupper($3) } dll && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll ":" $3 }')
    for import in $imports; do
        grep -qxF -- "$import" <<<"$allowed" ||
            { echo "FAIL: ${program##*/} imports $import, which tests/kit/imports.txt does not allow"; failed=1; }
    done
done
[ $programs -gt 0 ] || { echo "FAIL: no program in $1"; exit 1; }
[ $failed -ne 0 ] || echo "the kit's $programs programs import only calls of Windows XP SP3, from known DLLs"
exit $failed
