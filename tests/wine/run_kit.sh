#!/usr/bin/env bash
# The kit as a vendor runs it, under Wine 10 (in its chroot, scripts/wine.sh): made by
# scripts/kit.sh, unzipped into a fresh prefix, nothing else prepared, and run.cmd run through
# Wine's cmd, on one display and one wineserver (Wine renews its display driver's keys with
# each), with full exports of the registry between the steps. Two runs:
#   windows-10  a 64-bit prefix left at Wine's default version, a plain Windows 10 to the kit:
#               declined at its question, when it must change nothing; run.cmd /yes; then a
#               run killed in its third case, with lines added to its journal that name
#               another value and another folder, and a start after it, declined at once: the
#               journal puts back what the killed run changed, and nothing else
#   windows-xp  a 32-bit prefix whose default version is Windows XP (winecfg -v winxp):
#               run.cmd /yes, whose report shows XP's rows run and other versions' skipped
# A run.cmd /yes passes when its status is 0 (no case failed), every skipped case gives its
# reason and report.xml is well-formed (xmllint, libxml2's); every export of the registry is
# byte for byte the first; no journal is left.
# Usage: run_kit.sh <state folder> [run...]
set -euo pipefail
source "$(dirname "$0")/../../scripts/wine_prefix.sh"
if [ "${1:-}" = --in-chroot ]; then
    shift
    step=$1 state=$2
    # Wine names Unix files in the locale's character set: UTF-8, as a Windows names its
    # files in Unicode (the ANSI code page stays 1252).
    export LANG=${LANG:-C.UTF-8}
    case $step in
        prefix)  # a fresh prefix: win64 at Wine's default version, or win32 made Windows XP
            use_wine_prefix "$state" "$3"
            [ "$3" = win64 ] || "$wine" winecfg -v winxp > /dev/null 2>&1
            "$wineserver" -w ;;
        run)  # on one display and one wineserver: export, run (and cut it short), export
            export WINEPREFIX=$state/prefix WINEDEBUG=-all
            [ "$3" = win64 ] && wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64
            [ "$3" = win32 ] && wine=/usr/lib/wine/wine wineserver=/usr/lib/wine/wineserver32
            export WINESERVER=$wineserver WINE=$wine
            # Displays from a number beside the suites' (run_e2e.sh): side by side, no race.
            exec xvfb-run -a -n $((XVFB_FIRST_DISPLAY + 30)) -s "-screen 0 1024x768x24" \
                bash "$0" --in-chroot on-display "$state" "$4" ;;
        on-display)
            wine=$WINE results=$WINEPREFIX/drive_c/launcher-kit/results
            "$WINESERVER" -p
            regedit() { "$wine" regedit /E "Z:$state/$1.reg" > /dev/null 2>&1; }
            kit() { "$wine" cmd /c 'C:\launcher-kit\run.cmd' "$@" 2>/dev/null | tr -d '\r'; }
            declined() {  # a run answered "n", and its status
                local status=0
                printf 'n\n' | kit > "$state/$1.log" || status=$?
                printf "\nexit status %s\n" "$status" >> "$state/$1.log"
            }
            regedit before
            [ "$3" = windows-xp ] || declined declined
            status=0
            kit /yes > "$state/console.log" || status=$?
            echo "$status" > "$state/status"
            regedit after
            if [ "$3" = windows-10 ]; then
                kit /yes > "$state/killed.log" &
                for _ in $(seq 600); do  # killed in the middle of its third case
                    [ -f "$results/case-03.log" ] && break
                    sleep 0.1
                done
                sleep 1
                for process in /proc/[0-9]*; do  # the chroot has no pkill
                    tr '\0' ' ' < "$process/cmdline" 2>/dev/null | grep -q 'e2e\.exe' &&
                        kill -KILL "${process#/proc/}" 2>/dev/null
                done
                wait || true
                if [ -f "$results/journal.txt" ]; then
                    echo "cut short in its third case, its journal left" >> "$state/killed.log"
                    printf 'value\tHKLM\t512\t%s\tProductName\t1\t%s\nfolder\tC:\\windows\n' \
                        'SOFTWARE\Microsoft\Windows NT\CurrentVersion' 74616d706572656400 >> "$results/journal.txt"
                fi
                declined restarted
                regedit put-back
            fi
            "$WINESERVER" -k ;;
    esac
    exit
fi

[ $# -ge 1 ] || { echo "usage: run_kit.sh <state folder> [windows-10 | windows-xp ...]"; exit 2; }
state=$(realpath -m "$1")
shift
runs=("$@")
[ ${#runs[@]} -gt 0 ] || runs=(windows-10 windows-xp)
zip=$wine_repo/build/launcher-kit.zip
mkdir -p "$state"
"$wine_repo/scripts/kit.sh" > "$state/kit.log" 2>&1 || { cat "$state/kit.log"; exit 1; }
tail -n 1 "$state/kit.log"
wine10() { "$wine_repo/scripts/wine.sh" 10 bash "$0" --in-chroot "$@"; }
failed=0
fail() { echo "FAIL: $run: $*"; failed=1; }
for run in "${runs[@]}"; do
    folder=$state/$run arch=win64
    [ "$run" = windows-xp ] && arch=win32
    rm -rf "$folder"
    mkdir -p "$folder"
    started=$SECONDS
    status=0
    wine10 prefix "$folder" $arch > "$folder/prefix.log" 2>&1 || status=$?
    [ $status -ne 77 ] || { cat "$folder/prefix.log"; exit 77; }
    unzip -q "$zip" -d "$folder/prefix/drive_c"
    wine10 run "$folder" $arch "$run" > "$folder/wine.log" 2>&1 || true
    results=$folder/prefix/drive_c/launcher-kit/results
    echo "== $run: $(grep -m1 '^system:' "$folder/console.log" 2>/dev/null), $((SECONDS - started)) s"
    grep -E '^(case|[0-9]+ cases)' "$folder/console.log" 2>/dev/null | sed 's/^/    /' || true
    [ "$(cat "$folder/status" 2>/dev/null)" = 0 ] ||
        fail "run.cmd /yes: status $(cat "$folder/status" 2>/dev/null || echo missing), not 0 (the number of failed cases)"
    if xmllint --noout "$results/report.xml"; then
        unexplained=$(xmllint --xpath 'count(//skipped[not(normalize-space(@message))])' "$results/report.xml")
        [ "$unexplained" = 0 ] || fail "$unexplained skipped cases give no reason"
    else
        fail "report.xml is not well-formed XML"
    fi
    for export in after put-back; do
        [ -f "$folder/$export.reg" ] || continue
        cmp -s "$folder/before.reg" "$folder/$export.reg" ||
            fail "the registry $export is not the one before (diff the exports: $folder/*.reg)"
    done
    [ ! -e "$results/journal.txt" ] || fail "a journal was left"
    case $run in
        windows-10)
            grep -q "Nothing was changed, and no case was run" "$folder/declined.log" &&
                grep -q "^exit status 255" "$folder/declined.log" ||
                fail "declined at its question, the kit did not stop with status 255"
            grep -q "its journal left" "$folder/killed.log" || fail "the run was not cut short with its journal left"
            grep -q "^An earlier run was cut short" "$folder/restarted.log" && grep -q "^exit status 255" "$folder/restarted.log" ||
                fail "started again, the kit did not put back what the killed run changed before its question" ;;
        windows-xp)
            grep -q "^    shell wait on winxp, shell window absent: child started" "$results/report.txt" ||
                fail "the shell wait's row for Windows XP did not run"
            grep -q "^    skipped: driver branch on win10: only Wine plays win10" "$results/report.txt" ||
                fail "the rows of Windows 10 were not skipped as another version's" ;;
    esac
    # The results are kept beside the prefix; a passing run's prefix goes.
    cp -r "$results" "$folder/results" 2>/dev/null || true
    [ $failed -ne 0 ] || rm -rf "$folder/prefix"
done
exit $failed
