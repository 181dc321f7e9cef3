#!/usr/bin/env bash
# Every test: first the quick tier (ctest --preset quick: the host tests against the simulated
# Win32 with the fault sweep, the binary's budgets, reproducibility, signing) and a short run
# of each fuzz target, with its time; then the real program under Wine 8 and Wine 10. It ends
# with lines that say which Wines ran the shipped program, and how, and the disk under build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
scripts/build.sh
status=0
started=$SECONDS
ctest --preset quick || status=1
ctest --preset fuzz || status=1
quick="the quick tier (ctest --preset quick, then --preset fuzz): $((SECONDS - started)) s"
# The rest, without running the signing test again for the signed launcher's Wine cases.
ctest --preset host --label-exclude quick --fixture-exclude-setup signed_launcher || status=1
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
printf '%s\n' "${said[@]}" "$quick" "disk under build/: $(du -sh build | cut -f1)"
exit $status
