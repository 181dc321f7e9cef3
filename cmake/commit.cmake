# Writes the header that gives launcher.exe's version resource its ProductVersion: the
# project's version and the commit the tree was built from, "1.0.0+<40-hex hash>", with
# ".dirty" after it when the tree differs from that commit (a change, or a file git does not
# ignore), and "1.0.0+unknown" outside a git checkout. Run at every build, not at configure
# time, so that a build after a commit names that commit; the header is rewritten only when
# its text changes, so an unchanged commit rebuilds nothing.
#   cmake -DSOURCE=<source folder> -DVERSION=<x.y.z> -DCOMMIT=<hash or empty> -DOUTPUT=<header>
#         -P commit.cmake
# COMMIT names the commit for a tree without git (scripts/build_commit.sh builds git archive's
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
            execute_process(COMMAND ${GIT} --no-optional-locks -C ${SOURCE} status --porcelain
                            OUTPUT_VARIABLE changes RESULT_VARIABLE status_failed ERROR_QUIET)
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
