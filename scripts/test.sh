#!/usr/bin/env bash
# Every test: the host tests against the simulated Win32 (with the fault sweep), the binary's
# budgets and the real program under Wine; then a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
scripts/build.sh
source scripts/wine_prefix.sh
status=0
ctest --preset host || status=1
ctest --preset fuzz || status=1
if runs_32bit_code; then
    echo "the Wine tests ran the shipped 32-bit launcher.exe $how_32bit"
else
    echo "skipped: the shipped 32-bit launcher.exe was not executed on this machine:" \
         "$why_not_32bit; the Wine tests ran the 64-bit build of the same sources"
fi
exit $status
