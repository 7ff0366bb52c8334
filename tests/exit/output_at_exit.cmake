# Runs a Prolog program (through prolog_main) twice, with standard output
# redirected to a file and then to a pipe, and checks that everything it
# wrote is there once the process has ended: nothing may be lost to a
# buffer that the exit did not flush, whatever kind of descriptor the
# standard output is.
#
#   cmake -DRUN=<command|to|run|prolog_main> -DPROGRAM=<file.pl> -DWORK_DIR=<dir>
#         -DEXPECT_STATUS=<n> -DEXPECT_LINES=<n> -DEXPECT_BEGIN=<text>
#         -DEXPECT_END=<text> [-DEXPECT_END_NEWLINE=ON] [-DEXPECT_STDERR=<text>|<text>...]
#         [-DEXPECT_FILE=<name> -DEXPECT_FILE_TEXT=<text>]
#         -P output_at_exit.cmake
#
# RUN separates its words with "|" (a CMake list cannot cross -D), and so
# does EXPECT_STDERR its texts, each of which standard error must hold.
string(REPLACE "|" ";" run "${RUN}")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

set(failures "")
macro(fail what)
  string(APPEND failures "  ${how}: ${what}\n")
endmacro()

function(count_lines text out)
  string(REGEX MATCHALL "\n" newlines "${text}")
  list(LENGTH newlines n)
  set(${out} ${n} PARENT_SCOPE)
endfunction()

macro(check_output out err status)
  if(NOT "${status}" STREQUAL "${EXPECT_STATUS}")
    fail("exit status ${status}, expected ${EXPECT_STATUS}")
  endif()
  count_lines("${out}" lines)
  if(NOT lines EQUAL EXPECT_LINES)
    fail("${lines} lines on standard output, expected ${EXPECT_LINES}")
  endif()
  string(FIND "${out}" "${EXPECT_BEGIN}" at)
  if(NOT at EQUAL 0)
    fail("standard output does not begin with '${EXPECT_BEGIN}'")
  endif()
  set(end "${EXPECT_END}")
  if(EXPECT_END_NEWLINE)
    string(APPEND end "\n")
  endif()
  string(LENGTH "${out}" out_length)
  string(LENGTH "${end}" end_length)
  set(tail "")
  if(out_length GREATER_EQUAL end_length)
    math(EXPR from "${out_length} - ${end_length}")
    string(SUBSTRING "${out}" ${from} -1 tail)
  endif()
  if(NOT tail STREQUAL end)
    fail("standard output does not end with '${EXPECT_END}'")
  endif()
  if(DEFINED EXPECT_STDERR)
    string(REPLACE "|" ";" wanted "${EXPECT_STDERR}")
    foreach(text IN LISTS wanted)
      string(FIND "${err}" "${text}" at)
      if(at EQUAL -1)
        fail("standard error lacks '${text}': '${err}'")
      endif()
    endforeach()
  endif()
  if(DEFINED EXPECT_FILE)
    if(NOT EXISTS "${WORK_DIR}/${EXPECT_FILE}")
      fail("${EXPECT_FILE} was not made")
    else()
      file(READ "${WORK_DIR}/${EXPECT_FILE}" text)
      if(NOT text STREQUAL "${EXPECT_FILE_TEXT}\n")
        fail("${EXPECT_FILE} holds '${text}'")
      endif()
      file(REMOVE "${WORK_DIR}/${EXPECT_FILE}")
    endif()
  endif()
endmacro()

# Standard output to a regular file.
set(how "standard output to a file")
execute_process(COMMAND ${run} ${PROGRAM}
                WORKING_DIRECTORY "${WORK_DIR}"
                OUTPUT_FILE "${WORK_DIR}/stdout.txt"
                ERROR_VARIABLE err
                RESULT_VARIABLE status)
file(READ "${WORK_DIR}/stdout.txt" out)
check_output("${out}" "${err}" "${status}")

# Standard output to a pipe (cat reads its other end).
set(how "standard output to a pipe")
execute_process(COMMAND ${run} ${PROGRAM}
                COMMAND cat
                WORKING_DIRECTORY "${WORK_DIR}"
                OUTPUT_VARIABLE out
                ERROR_VARIABLE err
                RESULTS_VARIABLE statuses)
list(GET statuses 0 status)
check_output("${out}" "${err}" "${status}")

if(failures)
  message(FATAL_ERROR "output lost at exit:\n${failures}")
endif()
message(STATUS "all output present with standard output to a file and to a pipe")
