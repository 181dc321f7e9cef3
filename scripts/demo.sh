#!/usr/bin/env bash
# Lays out a demo install folder with stand-in children, runs the launcher there under Wine
# 8 (in its chroot, scripts/wine.sh) in both branches, and says in plain words what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
state=$PWD/build/demo
case ${1:-} in
    "")
        echo "installing what is missing (scripts/install.sh); the first time, several minutes"
        scripts/install.sh
        echo "building what it runs (scripts/build.sh for-wine)"
        scripts/build.sh for-wine
        rm -f "$state/splash.bmp" "$state/splash.png" "$state/verdict"
        status=0
        scripts/wine.sh 8 bash scripts/demo.sh --in-chroot || status=$?
        # ImageMagick is this machine's, not the chroot's.
        if [ -f "$state/splash.bmp" ] && convert "$state/splash.bmp" "$state/splash.png" 2>/dev/null; then
            echo
            echo "The splash as Windows draws it from launcher.exe's resources: $state/splash.png"
        fi
        echo
        cat "$state/verdict" 2>/dev/null || echo "demo: no verdict: the run under Wine ended early (exit $status)"
        exit $status ;;
    --in-chroot)
        # One X display for the whole demo: every Wine process of the prefix must share it.
        exec xvfb-run -a -n "$XVFB_FIRST_DISPLAY" -s "-screen 0 1024x768x24" bash "$0" --on-display ;;
esac

source scripts/wine_prefix.sh
# The keys, values and programs, as tests/contract.h names them for every test: a C++ string
# there, one of Wine's reg arguments here.
contract() { sed -n "s/^inline const char $1\[\] = \"\(.*\)\";\$/\1/p" tests/contract.h | sed 's/\\\\/\\/g'; }
directx="HKLM\\$(contract kDirectXKey)" directx_value=$(contract kDirectXValue)
record="HKCU\\$(contract kInstallKey)" record_value=$(contract kInstallValue)
runonce="HKLM\\$(contract kRunOnceKey)" runonce_value=$(contract kRunOnceValue)
setup=$(contract kSetupChild | tr '\\' /) driver=$(contract kDriverChild | tr '\\' /)
# The shipped 32-bit program on 64-bit Windows, as most people run it today, seeing the
# 32-bit view of HKLM\Software; where this machine runs no 32-bit code, the 64-bit build.
use_launcher_build
view=/reg:64
[ "$build" = "$wine_repo/build/win32" ] && view=/reg:32
echo "In a 64-bit Windows prefix: $build_note."
echo "Like Windows 10 it has no progman.exe with a title, so the launcher waits for a window" \
     "titled \"Program Manager\"; Wine shows none, so each start comes after the wait's full second."
[ -f "$state/prefix/system.reg" ] || echo "(creating a Wine prefix: about 15 seconds, 20 on an emulated CPU)"
use_wine_prefix "$state" win64
echo "Wine: $("$wine" --version 2>/dev/null), $WINE_GENERATION."
folder="$state/install/Quaverline Device"
rm -rf "$state/install"
mkdir -p "$folder/$(dirname "$setup")" "$folder/$(dirname "$driver")"
map_drive t "$state/install"
tools=$build/tests/e2e
cp "$build/launcher.exe" "$folder/launcher.exe"
cp "$tools/standin.exe" "$folder/$setup"
cp "$tools/standin.exe" "$folder/$driver"

# The registry as the launcher sees it.
reg() { "$wine" reg "$@" $view >/dev/null 2>&1 || true; }
value() {  # the data of a registry value, or "(none)"
    "$wine" reg query "$1" /v "$2" $view 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name { sub(/^[ ]*[^ ]+[ ]+REG_[A-Z]+[ ]+/, ""); print; found=1 }
                          END { if (!found) print "(none)" }'
}
started() {  # which stand-in started, from where, how long after the launcher
    local found=0 logs=("$folder/$setup.log" "$folder/$driver.log")
    # A stand-in records its start once its own start-up is over, which may be after the
    # launcher has ended (long after, on an emulated CPU): wait for a record, at most 30 s.
    for _ in $(seq 300); do
        [ -f "${logs[0]}" ] || [ -f "${logs[1]}" ] && break
        sleep 0.1
    done
    started_program=nothing
    for log in "${logs[@]}"; do
        [ -f "$log" ] || continue
        IFS='|' read -r created program from commandline < "$log"
        started_program=${program##*\\}
        local ms=$(( created / 10000 - 11644473600000 - $1 ))
        echo "  started:          $program"
        echo "  in the folder:    $from"
        echo "  after:            $ms ms (from starting Wine with the launcher to the child's creation)"
        rm -f "$log"
        found=1
    done
    [ $found -eq 1 ] || echo "  started:          nothing"
}
verdicts=()
run() {  # run <title> <arguments> <the child expected> <the value it must leave> <its key> <its name>
    echo
    echo "== $1"
    local version start code=0
    version=$(value "$directx" "$directx_value")
    echo "  DirectX version:  $version"
    start=$(date +%s%3N)
    (cd "$folder" && "$wine" launcher.exe $2 2>/dev/null) || code=$?
    echo "  install path:     $(value "$record" "$record_value")"
    echo "  RunOnce record:   $(value "$runonce" "$runonce_value")"
    started "$start"
    echo "  exit code:        $code$([ "$code" = 1 ] && echo " (the normal result: the launcher always exits with 1)")"
    if [ "$started_program" = "$3" ] && [ "$code" = 1 ] && [ "$(value "$5" "$6")" != "(none)" ]; then
        verdicts+=("$4: as expected")
    else
        verdicts+=("$4: NOT as expected (started $started_program, exit code $code, $6 $(value "$5" "$6"))")
    fi
}

"$wineserver" -k 2>/dev/null || true
reg delete "$record" /f
reg delete "$runonce" /v "$runonce_value" /f
reg add "$directx" /v "$directx_value" /d 4.09.00.0904 /f
echo "launcher.exe as Windows' file properties show it:"
"$wine" "$tools/e2e.exe" --version-info 'T:\Quaverline Device\launcher.exe' 2>/dev/null |
    tr -d '\r' | sed 's/^/  /'
echo "The demo install folder is T:\\Quaverline Device\\ (that is $folder)."
run "First run, no arguments: splash, install path recorded; 4.09.00.0904 is newer than 4.08.00.0400, so the driver branch" "" \
    "${driver##*/}" "the driver branch" "$record" "$record_value"
reg add "$directx" /v "$directx_value" /d 4.08.00.0400 /f
run "Run with the argument 1 and DirectX 4.08.00.0400: not newer, so the DirectX branch" "1" \
    "${setup##*/}" "the DirectX branch" "$runonce" "$runonce_value"
reg add "$directx" /v "$directx_value" /d 4.09.00.0904 /f
"$wineserver" -k 2>/dev/null || true

"$wine" "$tools/e2e.exe" --splash-picture \
    "Z:$build/launcher.exe" "Z:$state/splash.bmp" >/dev/null 2>&1 || true
"$wineserver" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
case "${verdicts[*]}" in  # the demo's last line, said outside (above)
    *NOT*) echo "demo: ${verdicts[0]}; ${verdicts[1]}" > "$state/verdict"; exit 1 ;;
    *) echo "demo: both branches as expected: the driver installer on a first run with DirectX 4.09, the DirectX setup and its RunOnce record with 4.08" > "$state/verdict" ;;
esac
