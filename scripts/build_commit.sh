#!/usr/bin/env bash
# Builds launcher.exe as a commit has it, from a clean copy of that commit's tree (nothing of
# the working tree or of an earlier build), with the toolchain of scripts/install.sh.
# Usage: build_commit.sh <commit> <empty folder> [preset]; leaves
# <folder>/build/<preset>/launcher.exe. The preset is win32, the shipped build, unless given.
set -euo pipefail
commit=$1 tree=$2 preset=${3:-win32}
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
mkdir -p "$tree"
git -C "$repository" archive "$commit" | tar -x -C "$tree"
(cd "$tree" && cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" --target launcher >/dev/null)
