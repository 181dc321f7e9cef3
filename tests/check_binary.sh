#!/usr/bin/env bash
# Keeps the shipped launcher.exe within its budgets (the size in all, and its code and data,
# below), a GUI program for Windows 4.0, importing only the calls that Windows 95 and NT 4 had
# from KERNEL32, USER32 and ADVAPI32, carrying the manifest it is meant to carry, hardened
# in its headers, carrying the version resource of the project's version (tests/check_pe.py),
# and running on every processor that Windows 95 and NT 4 ran on: the 486 and the Pentium.
# Usage: check_binary.sh <launcher.exe> <project version>
set -euo pipefail
exe=$1 version=$2
objdump=i686-w64-mingw32-objdump
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# 26,112: the version resource's ProductVersion names the commit (84 bytes more, 96 for a
# tree with changes), and it ends the last 512-byte page of the resources.
size_budget=26112 code_data_budget=6144
size=$(stat -c %s "$exe")
[ "$size" -le $size_budget ] || fail "launcher.exe is $size bytes, the budget is $size_budget"
code_data=0
while read -r section_size; do
    code_data=$((code_data + 16#$section_size))
done < <($objdump -h "$exe" | awk '$2 ~ /^\.(text|data|rdata|bss)$/ { print $3 }')
[ "$code_data" -le $code_data_budget ] ||
    fail "code and data take $code_data bytes, the budget is $code_data_budget"

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
# The hardening, the manifest and the version resource (Debian's python3, which has pefile:
# another may come first on PATH).
/usr/bin/python3 "$(dirname "$0")/check_pe.py" "$exe" "$version" || failed=1

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
# The stack cookie: every frame of 64 bytes or more holds an array (a path, a title, a version
# record). Each must copy the cookie in right after it is made (a load from one address, the
# cookie's), and the last direct call before the frame is released must be to one routine,
# the one that compares the copy or ends the process (GCC's __stack_chk_fail behind its own
# compare, or cl's __security_check_cookie).
cookie_report=$($objdump -d -j .text --no-show-raw-insn "$exe" | awk -F'\t' '
    function hex(h,   v, i) { v = 0; for (i = 3; i <= length(h); i++) v = v * 16 + index("0123456789abcdef", substr(h, i, 1)) - 1; return v }
    NF < 2 { next }
    { n++; text[n] = $2; where[n] = $1 }
    END {
        for (i = 1; i <= n; i++) {
            if (!match(text[i], /^sub +\$0x[0-9a-f]+,%esp$/)) continue
            size = substr(text[i], index(text[i], "$") + 1); sub(/,%esp$/, "", size)
            if (hex(size) < 64) continue
            frames++; loaded = ""; called = ""
            for (j = i + 1; j <= i + 8 && j <= n; j++)
                if (text[j] ~ /^mov +0x[0-9a-f]+,%e[a-d]x$/) { loaded = text[j]; sub(/^mov +/, "", loaded); sub(/,.*/, "", loaded); break }
            release = "add $" size ",%esp"
            for (j = i + 1; j <= n; j++) { t = text[j]; gsub(/ +/, " ", t); if (t == release) break }
            for (k = j - 1; k > j - 12 && k > i; k--)
                if (text[k] ~ /^call +0x[0-9a-f]+$/) { called = text[k]; sub(/^call +/, "", called); break }
            loads[loaded]++; calls[called]++
            frame[frames] = where[i] " loads " (loaded ? loaded : "nothing") ", calls " (called ? called : "nothing")
        }
        best_load = ""; best_call = ""
        for (a in loads) if (a != "" && loads[a] > loads[best_load]) best_load = a
        for (c in calls) if (c != "" && calls[c] > calls[best_call]) best_call = c
        bad = 0
        for (f = 1; f <= frames; f++)
            if (frame[f] !~ (" loads " best_load ", calls " best_call "$")) { print "unprotected frame at" frame[f]; bad++ }
        printf "%d frames of 64 bytes or more, %d protected\n", frames, frames - bad
    }')
protected=$(tail -1 <<<"$cookie_report")
case $protected in
    "0 frames"*) fail "no frame of 64 bytes or more found: the stack cookie cannot be judged" ;;
    *) [ "$(grep -c '^unprotected' <<<"$cookie_report")" -eq 0 ] ||
           fail "frames without the stack cookie: $(grep '^unprotected' <<<"$cookie_report" | head -3)" ;;
esac

echo "launcher.exe: $size bytes, code and data $code_data bytes, $(wc -w <<<"$imports") imports, $protected"
exit $failed
