# Writes the header that gives launcher.exe's version resource its ProductVersion: the
# project's version and the commit the tree was built from, "1.0.0+<40-hex hash>", with
# ".dirty" after it when the tree differs from that commit (a change, a file git does not
# ignore, or a file git is told not to look at), and "1.0.0+unknown" outside a git checkout.
# Run at every build, not at configure time, so that a build after a commit names that
# commit; the header is rewritten only when its text changes, so an unchanged commit
# rebuilds nothing.
#   cmake -DSOURCE=<source folder> -DVERSION=<x.y.z> -DCOMMIT=<hash or empty> -DOUTPUT=<header>
#         -P commit.cmake
# COMMIT names the commit for a tree without git (release/build_commit.sh builds git archive's
# copy of a commit).
set(named unknown)
if(COMMIT)
    set(named ${COMMIT})
else()
    find_program(GIT git)
    if(GIT)
        # Only a checkout whose top is this very folder: a copy of the tree inside another
        # checkout (a build folder's) is not that checkout's HEAD.
        execute_process(COMMAND ${GIT} -C ${SOURCE} rev-parse --show-toplevel
                        OUTPUT_VARIABLE top RESULT_VARIABLE failed ERROR_QUIET
                        OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT failed)
            file(REAL_PATH "${top}" top)
            file(REAL_PATH "${SOURCE}" source)
        endif()
        if(NOT failed AND top STREQUAL source)
            execute_process(COMMAND ${GIT} -C ${SOURCE} rev-parse --verify HEAD^{commit}
                            OUTPUT_VARIABLE head RESULT_VARIABLE failed ERROR_QUIET
                            OUTPUT_STRIP_TRAILING_WHITESPACE)
            # Git's own answer, whatever the user's settings would hide: changes to tracked
            # files; every file git does not track and the repository's .gitignore files do
            # not ignore (not status.showUntrackedFiles, info/exclude or core.excludesFile);
            # and any entry marked assume-unchanged or skip-worktree, whose changes git no
            # longer looks for ("git ls-files -v" tags them in lower case, or "S").
            execute_process(COMMAND ${GIT} --no-optional-locks -C ${SOURCE} status --porcelain
                                    --untracked-files=no
                            OUTPUT_VARIABLE changes RESULT_VARIABLE status_failed ERROR_QUIET)
            execute_process(COMMAND ${GIT} -C ${SOURCE} ls-files --others
                                    --exclude-per-directory=.gitignore
                            OUTPUT_VARIABLE untracked RESULT_VARIABLE untracked_failed ERROR_QUIET)
            execute_process(COMMAND ${GIT} -C ${SOURCE} ls-files -v
                            OUTPUT_VARIABLE tags RESULT_VARIABLE tags_failed ERROR_QUIET)
            string(REGEX MATCH "(^|\n)[^H\n]" hidden "${tags}")
            string(APPEND changes "${untracked}${hidden}")
            if(untracked_failed OR tags_failed)
                set(status_failed 1)
            endif()
            if(NOT failed AND NOT status_failed)
                set(named ${head})
                if(NOT changes STREQUAL "")
                    string(APPEND named .dirty)
                endif()
            endif()
        endif()
    endif()
endif()
set(text "// Made at each build by cmake/commit.cmake.\n#define LAUNCHER_PRODUCT_VERSION_TEXT \"${VERSION}+${named}\"\n")
set(old "")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
    file(WRITE ${OUTPUT} "${text}")
endif()
