#!/usr/bin/env bash
# Keeps the shipped launcher.exe within its budgets: 24,064 bytes in all, code and data
# 6 KB, a GUI program for Windows 4.0, importing only the calls that Windows 95 and NT 4 had
# from KERNEL32, USER32 and ADVAPI32, carrying the manifest it is meant to carry, hardened
# in its headers (tests/check_pe.py), and running on every processor that Windows 95 and
# NT 4 ran on: the 486 and the Pentium; and carrying the version resource of the project's
# version (tests/check_version.py).
# Usage: check_binary.sh <launcher.exe> <project version>
set -euo pipefail
exe=$1 version=$2
objdump=i686-w64-mingw32-objdump
failed=0
fail() { echo "FAIL: $*"; failed=1; }

size=$(stat -c %s "$exe")
[ "$size" -le 24064 ] || fail "launcher.exe is $size bytes, the budget is 24064"
code_data=0
while read -r section_size; do
    code_data=$((code_data + 16#$section_size))
done < <($objdump -h "$exe" | awk '$2 ~ /^\.(text|data|rdata|bss)$/ { print $3 }')
[ "$code_data" -le 6144 ] || fail "code and data take $code_data bytes, the budget is 6144"

headers=$($objdump -p "$exe")
for field in MajorOSystemVersion MajorSubsystemVersion; do
    grep -qE "^$field[[:space:]]+4$" <<<"$headers" || fail "$field is not 4"
done
grep -qE '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "not a GUI program"

# The calls it may import, all present in Windows 95 and NT 4: the ones that the MSVC
# branch's import libraries are made from (cmake/imports/*.def), one list for both.
allowed=$(for def in "$(dirname "$0")"/../cmake/imports/*.def; do
    awk '$1 == "LIBRARY" { dll = $2 } dll && $1 ~ /@[0-9]+$/ { sub(/@.*/, "", $1); print dll ":" $1 }' "$def"
done)
imports=$(awk '/DLL Name:/ { dll = $3 } dll && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll ":" $3 }' <<<"$headers")
for import in $imports; do
    grep -qw -- "$import" <<<"$allowed" || fail "imports $import"
done
python3 "$(dirname "$0")/check_manifest.py" "$exe" || failed=1
python3 "$(dirname "$0")/check_pe.py" "$exe" || failed=1
python3 "$(dirname "$0")/check_version.py" "$exe" "$version" || failed=1

# Instructions that came with the Pentium Pro and later: cmov, fcmov, fcomi and fucomi, the
# long NOPs (0F 1F) that assemblers pad with for newer processors, sysenter; and anything
# that touches an MMX or SSE register or the SSE state. A 486 or a Pentium dies on them.
beyond_pentium='^(cmov|fcmov|fu?comip?$|nop[wl]|sysenter|sysexit|rdpmc|emms|femms|ldmxcsr|stmxcsr|prefetch|[slm]fence|clflush|movnti|fxsave|fxrstor)'
newer=$($objdump -d -j .text --no-show-raw-insn "$exe" |
    awk -F'\t' -v beyond="$beyond_pentium" 'NF >= 2 {
        split($2, words, " "); operands = $2; sub(/^[^ ]+ */, "", operands)
        if (words[1] ~ beyond || operands ~ /%[xy]?mm[0-9]/) print $0 }')
if [ -n "$newer" ]; then
    fail "instructions beyond the 486 and the Pentium:"
    head -5 <<<"$newer"
fi
echo "launcher.exe: $size bytes, code and data $code_data bytes, $(wc -w <<<"$imports") imports"
exit $failed
