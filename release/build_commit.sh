#!/usr/bin/env bash
# Builds launcher.exe as a commit has it, from git's archive of that commit (nothing of the
# working tree or of an earlier build), in a new folder, with nothing of its caller's: an empty
# environment with a fixed PATH, HOME, locale, time zone and umask, and the compiler of the
# package that the statement names; the copy has no git, so the build is told the commit.
#
#   release/build_commit.sh <commit> <new folder> [preset]
#
# leaves <new folder>/build/<preset>/launcher.exe (win32, the shipped build, unless a preset is
# given) and says so. The folder is made as release/common.sh's new_folder allows.
tool=build_commit.sh
repository=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
source "$repository/release/common.sh"
case ${1:-} in -h|--help|"") sed -n '2,10s/^# \{0,1\}//p' "$0"; [ -n "${1:-}" ]; exit ;; esac
[ $# -ge 2 ] || die "usage: build_commit.sh <commit> <new folder> [preset]"
value commit "$1"
hash=$(commit_of "$1")
preset=${3:-win32}
[[ $preset =~ ^[a-z0-9-]+$ ]] || die "$(shown "$preset") is not a preset's name"
for compiler in g++ gcc; do  # the compiler, and the preprocessor of windres
    owner=$(dpkg -S "$(readlink -f "/usr/bin/i686-w64-mingw32-$compiler")" 2>/dev/null | cut -d: -f1) wanted=${compiler_package/#g++/$compiler}
    [ "$preset" != win32 ] || [ "$owner" = "$wanted" ] || die "i686-w64-mingw32-$compiler is ${owner:-no package}'s, not $wanted's (update-alternatives)"
done
tree=$(new_folder "$2")
mkdir -m 755 -- "$tree" || die "$(shown "$2") could not be made"
within $tool_seconds git -C "$repository" -c core.autocrlf=false -c core.eol=lf archive "$hash" |
    tar -x -C "$tree"
clean=(env -i PATH=/usr/bin:/bin HOME="$tree/build" LC_ALL=C.UTF-8 TZ=UTC)
(cd -- "$tree" && umask 022 &&
    within $build_seconds "${clean[@]}" cmake --preset "$preset" -DLAUNCHER_COMMIT="$hash" > /dev/null &&
    within $build_seconds "${clean[@]}" cmake --build --preset "$preset" --target launcher > /dev/null)
built=$tree/build/$preset/launcher.exe
echo "built $(shown "$built") from commit $hash ($(stat -c %s "$built") bytes, sha256 $(sha256sum < "$built" | cut -c1-16)...)"
