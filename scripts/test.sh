#!/usr/bin/env bash
# Every test, side by side: the fuzz targets' short runs (their own build) beside one CTest
# run of the host build with three at a time: the quick tier (the host tests against the
# simulated Win32 with the fault sweep, the binary's budgets, reproducibility, signing, the
# kit made twice) and the real program under Wine 8 and Wine 10, each suite with its own
# prefix, state folder and displays. It ends with lines that say which Wines ran the shipped
# program, and how, the time it took, and the disk under build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
scripts/build.sh
side_by_side=3  # two cores: the Wine suites mostly wait, on the launcher's pauses and Wine's starts
status=0
started=$SECONDS
ctest --preset fuzz > build/fuzz.log 2>&1 & fuzzing=$!
ctest --preset host -j $side_by_side || status=1
wait $fuzzing || { status=1; tail -n 30 build/fuzz.log; }
tail -n 3 build/fuzz.log
# Each Wine suite's log begins with what it ran, and where (tests/wine/run_e2e.sh).
said=()
for generation in 8 10; do
    suite=build/host/wine$([ $generation = 8 ] || echo 10)/32-bit-windows/e2e-32-bit-windows.log
    if [ -f "$suite" ]; then
        said+=("Wine $generation: $(head -n 1 "$suite" | tr -d '\r' | sed 's/^32-bit-windows: //')")
    else
        answer=$(cat build/wine$generation 2>/dev/null) || answer="no: scripts/install.sh has not run"
        case $answer in
            no:*) said+=("Wine $generation: skipped, ${answer#no: }") ;;
            *) why=$(cat build/32-bit-code)
               case $answer in *"; no 32-bit Wine: "*) why=${answer#*; no 32-bit Wine: } ;; esac
               said+=("Wine $generation: the shipped 32-bit launcher.exe was not executed (${why#no: })") ;;
        esac
    fi
done
printf '%s\n' "${said[@]}" "every test, $side_by_side at a time beside the fuzz targets: $((SECONDS - started)) s" \
    "disk under build/: $(du -sh build | cut -f1)"
exit $status
