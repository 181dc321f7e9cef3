#!/usr/bin/env bash
# Every test: the host tests against the simulated Win32, the binary's budgets, and the real
# program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
scripts/build.sh
ctest --preset host
