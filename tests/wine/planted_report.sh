#!/usr/bin/env bash
# Reports one planted-module case of the Wine suites of one Wine as a test of its own: passed
# where every suite that ran it proved it, skipped (77) where a suite's control loaded no
# planted DLL either, so that the case proved nothing there, or where no suite ran it here.
# Reads the lines "planted case <key>: ..." that tests/e2e/e2e.cpp printed into each suite's
# log (run_e2e.sh keeps it as <state folder>/e2e-<system>.log).
# Usage: planted_report.sh <case key> <state folder of a suite>...
set -euo pipefail
key=$1
shift
ran=0 unproven=()
for state in "$@"; do
    suite=$(basename "$state")
    log=$state/e2e-$suite.log
    [ -f "$log" ] || continue
    ran=$((ran + 1))
    line=$(grep -a -m1 "^planted case $key: " "$log") || {
        echo "FAIL: $suite: its log has no line for the planted case $key"
        exit 1
    }
    line=${line%$'\r'}  # Wine's console ends its lines so
    case ${line#"planted case $key: "} in
        proven) echo "$suite: proven" ;;
        *) unproven+=("$suite: ${line#"planted case $key: "}") ;;
    esac
done
[ $ran -gt 0 ] || { echo "skipped: no Wine suite ran the planted case $key here"; exit 77; }
if [ ${#unproven[@]} -gt 0 ]; then
    printf 'skipped: %s\n' "${unproven[@]}"
    exit 77
fi
