#!/usr/bin/env bash
# The kit as a vendor runs it, under Wine 10 (in its chroot, scripts/wine.sh): made by
# scripts/kit.sh, unzipped into a fresh prefix, nothing else prepared, and run.cmd /yes run
# through Wine's cmd. Three runs:
#   windows-10  a 64-bit prefix left at Wine's default version, a plain Windows 10 to the kit;
#               first declined at its question, when it must change nothing
#   cut-short   the same, killed in its third case, then started again: its journal puts back
#               what the killed run changed, and nothing that a line added to it names
#   windows-xp  a 32-bit prefix whose default version is Windows XP (winecfg -v winxp)
# Each passes when run.cmd's status is 0 (no case failed), every skipped case gives its reason
# and report.xml is well-formed (xmllint, libxml2's), and a full export of the registry taken
# after the run is byte for byte the one taken before it, within one wineserver and display
# (Wine renews its display driver's keys with each). windows-xp's report shows XP's rows run
# and other versions' skipped.
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
            exec xvfb-run -a -n "$XVFB_FIRST_DISPLAY" -s "-screen 0 1024x768x24" \
                bash "$0" --in-chroot on-display "$state" "$4" ;;
        on-display)
            wine=$WINE
            "$WINESERVER" -p
            regedit() { "$wine" regedit /E "Z:$state/$1.reg" > /dev/null 2>&1; }
            kit() { "$wine" cmd /c 'C:\launcher-kit\run.cmd' /yes 2>/dev/null | tr -d '\r'; }
            regedit before
            if [ "$3" = windows-10 ]; then
                declined=0
                printf 'n\n' | "$wine" cmd /c 'C:\launcher-kit\run.cmd' > "$state/declined.log" \
                    2>/dev/null || declined=$?
                printf "\nexit status %s\n" "$declined" >> "$state/declined.log"
            fi
            if [ "$3" = cut-short ]; then
                kit > "$state/cut-short.log" &
                # In the middle of the third case, the driver and its case are killed.
                for _ in $(seq 600); do
                    [ -f "$WINEPREFIX/drive_c/launcher-kit/results/case-03.log" ] && break
                    sleep 0.1
                done
                sleep 1
                for process in /proc/[0-9]*; do  # the chroot has no pkill
                    tr '\0' ' ' < "$process/cmdline" 2>/dev/null | grep -q 'e2e\.exe' &&
                        kill -KILL "${process#/proc/}" 2>/dev/null
                done
                wait || true
                journal=$WINEPREFIX/drive_c/launcher-kit/results/journal.txt
                if [ -f "$journal" ]; then
                    echo "cut short in its third case, its journal left" >> "$state/cut-short.log"
                    # Lines naming a value and a folder that are not the kit's: passed over.
                    printf 'value\tHKLM\t512\t%s\tProductName\t1\t%s\nfolder\tC:\\windows\n' \
                        'SOFTWARE\Microsoft\Windows NT\CurrentVersion' 74616d706572656400 >> "$journal"
                fi
            fi
            status=0
            kit > "$state/console.log" || status=$?
            echo "$status" > "$state/status"
            regedit after
            "$WINESERVER" -k ;;
    esac
    exit
fi

[ $# -ge 1 ] || { echo "usage: run_kit.sh <state folder> [windows-10 | cut-short | windows-xp ...]"; exit 2; }
state=$(realpath -m "$1")
shift
runs=("$@")
[ ${#runs[@]} -gt 0 ] || runs=(windows-10 cut-short windows-xp)
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
    grep -E '^(case|[0-9]+ cases|An earlier)' "$folder/console.log" 2>/dev/null | sed 's/^/    /' || true
    [ "$(cat "$folder/status" 2>/dev/null)" = 0 ] ||
        fail "run.cmd's status is $(cat "$folder/status" 2>/dev/null || echo missing), not 0 (the number of failed cases)"
    if xmllint --noout "$results/report.xml"; then
        unexplained=$(xmllint --xpath 'count(//skipped[not(normalize-space(@message))])' "$results/report.xml")
        [ "$unexplained" = 0 ] || fail "$unexplained skipped cases give no reason"
    else
        fail "report.xml is not well-formed XML"
    fi
    cmp -s "$folder/before.reg" "$folder/after.reg" ||
        fail "the registry after the run is not the one before it (diff of the exports: $folder/*.reg)"
    [ ! -e "$results/journal.txt" ] || fail "the journal was left"
    case $run in
        windows-10)
            grep -q "Nothing was changed, and no case was run" "$folder/declined.log" &&
                grep -q "^exit status 255" "$folder/declined.log" ||
                fail "declined at its question, the kit did not stop with status 255" ;;
        cut-short)
            grep -q "its journal left" "$folder/cut-short.log" ||
                fail "the first run was not cut short with its journal left"
            grep -q "^An earlier run was cut short" "$folder/console.log" ||
                fail "the second run did not put back what the first changed" ;;
        windows-xp)
            grep -q "^    shell wait on winxp, shell window absent: child started" "$results/report.txt" ||
                fail "the shell wait's row for Windows XP did not run"
            grep -q "^    skipped: driver branch on win10: only Wine plays win10" "$results/report.txt" ||
                fail "the rows of Windows 10 were not skipped as another version's" ;;
    esac
done
exit $failed
