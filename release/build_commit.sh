#!/usr/bin/env bash
# Builds launcher.exe as a commit has it, from a clean copy of that commit's tree (nothing of
# the working tree or of an earlier build), with the toolchain of scripts/install.sh, and
# with nothing of the caller's own settings: git's line-ending conversions are off (the
# repository's .gitattributes keeps every file's bytes too), and CFLAGS, CXXFLAGS, LDFLAGS
# and the like are cleared, so that any machine builds the same bytes. The copy has no git, so
# the commit its version resource names is handed to the build.
# Usage: build_commit.sh <commit> <new or empty folder> [preset]; leaves
# <folder>/build/<preset>/launcher.exe and says so. The preset is win32, the shipped build,
# unless given. A folder that holds anything is refused: nothing of it may reach the build.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: build_commit.sh <commit> <new or empty folder> [preset]" >&2; exit 2; }
commit=$1 tree=$2 preset=${3:-win32}
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
hash=$(git -C "$repository" rev-parse --verify --quiet "$commit^{commit}") || {
    echo "build_commit.sh: $commit is not a commit" >&2
    exit 1
}
if [ -e "$tree" ] && [ -n "$(ls -A -- "$tree")" ]; then
    echo "build_commit.sh: $tree is not empty: give a new or an empty folder" >&2
    exit 1
fi
mkdir -p -- "$tree"
git -C "$repository" -c core.autocrlf=false -c core.eol=lf archive "$hash" | tar -x -C "$tree"
(cd -- "$tree" &&
    env -u CFLAGS -u CXXFLAGS -u CPPFLAGS -u LDFLAGS -u RCFLAGS -u CMAKE_BUILD_TYPE \
        -u CMAKE_GENERATOR -u CMAKE_TOOLCHAIN_FILE -u CC -u CXX \
        sh -c "cmake --preset '$preset' --no-warn-unused-cli -DLAUNCHER_COMMIT=$hash >/dev/null &&
               cmake --build --preset '$preset' --target launcher >/dev/null")
built=$tree/build/$preset/launcher.exe
echo "built $built from commit $hash ($(stat -c %s "$built") bytes, sha256 $(sha256sum < "$built" | cut -c1-16)...)"
