# Runs a launcher executable once and checks its exit status and what it
# wrote, as a user meets it.
#
#   cmake -DPREFIX=<emulator|words> -DLAUNCHER=<program> -DWORK_DIR=<dir>
#         -DEXPECT_STATUS=<n> [-DEXPECT_STDOUT=<text>] [-DEXPECT_STDERR=<text>]
#         [-DFROM=<dir>] [-DSTDIN_CLOSED=ON] [-DPIPE_CLOSES=ON]
#         -P launcher_run.cmake
#
# FROM runs it from another directory (the states are embedded, nothing is
# looked up beside the program).  STDIN_CLOSED runs it with descriptor 0
# closed.  PIPE_CLOSES sends its standard output into a pipe whose reader
# takes the first line and exits: the launcher must end (by the broken
# pipe's signal or with status 1), never hang or crash, and the line must
# have arrived.
string(REPLACE "|" ";" prefix "${PREFIX}")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
if(NOT DEFINED FROM)
  set(FROM "${WORK_DIR}")
endif()

set(command ${prefix} ${LAUNCHER})
if(STDIN_CLOSED OR PIPE_CLOSES)
  # The shell sets the descriptors up; "$@" is the launcher's command.
  if(STDIN_CLOSED)
    set(script "exec \"$@\" <&-")
  else()
    # No ";" in the script: it would split the command's list.
    set(script "\"$@\" | head -n 1\necho \"status=\${PIPESTATUS[0]}\" >&2")
  endif()
  set(command bash -c "${script}" launcher ${command})
endif()
execute_process(COMMAND ${command}
                WORKING_DIRECTORY "${FROM}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 100)

set(failures "")
if(PIPE_CLOSES)
  string(REGEX MATCH "status=([0-9]+)" _ "${err}")
  set(launcher_status "${CMAKE_MATCH_1}")
  # 141: ended by SIGPIPE, as a tool writing into a closed pipe is.
  if(NOT launcher_status STREQUAL "1" AND NOT launcher_status STREQUAL "141")
    string(APPEND failures "  launcher status '${launcher_status}', expected 1 or 141 (SIGPIPE)\n")
  endif()
elseif(NOT "${status}" STREQUAL "${EXPECT_STATUS}")
  string(APPEND failures "  exit status '${status}', expected ${EXPECT_STATUS}\n")
endif()
if(DEFINED EXPECT_STDOUT)
  string(FIND "${out}" "${EXPECT_STDOUT}" at)
  if(at EQUAL -1)
    string(APPEND failures "  standard output lacks '${EXPECT_STDOUT}': '${out}'\n")
  endif()
endif()
if(DEFINED EXPECT_STDERR)
  string(FIND "${err}" "${EXPECT_STDERR}" at)
  if(at EQUAL -1)
    string(APPEND failures "  standard error lacks '${EXPECT_STDERR}': '${err}'\n")
  endif()
elseif(NOT PIPE_CLOSES AND NOT err STREQUAL "")
  string(APPEND failures "  unexpected standard error: '${err}'\n")
endif()
if(failures)
  message(FATAL_ERROR "${LAUNCHER}:\n${failures}")
endif()
