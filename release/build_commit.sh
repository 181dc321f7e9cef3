#!/usr/bin/env bash
# Builds launcher.exe as a commit has it, from git's archive of that commit (nothing of the
# working tree or of an earlier build), in a new folder that it makes itself, with nothing of
# the caller's own settings: git's line-ending conversions off (.gitattributes keeps every
# file's bytes too), CFLAGS, CXXFLAGS, LDFLAGS and the like cleared, so that any machine with
# the same toolchain builds the same bytes. The copy has no git, so the commit its version
# resource names is handed to the build.
#
#   release/build_commit.sh <commit> <new folder> [preset]
#
# leaves <new folder>/build/<preset>/launcher.exe (the preset is win32, the shipped build,
# unless given) and says so. The folder must not exist, and the folder it is made in must be
# one that no other user may change (release/common.sh, new_folder).
set -euo pipefail
tool=build_commit.sh
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
source "$repository/release/common.sh"
case ${1:-} in -h|--help|"") sed -n '2,13s/^# \{0,1\}//p' "$0"; [ -n "${1:-}" ]; exit ;; esac
[ $# -ge 2 ] || die "usage: build_commit.sh <commit> <new folder> [preset]"
value commit "$1"
hash=$(git -C "$repository" rev-parse --verify --quiet "$1^{commit}") ||
    die "$(shown "$1") is not a commit of this repository"
tree=$(new_folder "$2")
preset=${3:-win32}
git -C "$repository" -c core.autocrlf=false -c core.eol=lf archive "$hash" | tar -x -C "$tree"
[[ $preset =~ ^[a-z0-9-]+$ ]] || die "$(shown "$preset") is not a preset's name"
(cd -- "$tree" &&
    clean=(env -u CFLAGS -u CXXFLAGS -u CPPFLAGS -u LDFLAGS -u RCFLAGS -u CMAKE_BUILD_TYPE
           -u CMAKE_GENERATOR -u CMAKE_TOOLCHAIN_FILE -u CC -u CXX) &&
    "${clean[@]}" cmake --preset "$preset" --no-warn-unused-cli -DLAUNCHER_COMMIT="$hash" > /dev/null &&
    "${clean[@]}" cmake --build --preset "$preset" --target launcher > /dev/null)
built=$tree/build/$preset/launcher.exe
echo "built $(shown "$built") from commit $hash ($(stat -c %s "$built") bytes, sha256 $(sha256sum < "$built" | cut -c1-16)...)"
