# Runs the real trelix in a scratch folder on one model file, as a user
# does, and checks what it printed and wrote.
#
#   cmake -DPREFIX=<emulator|words> -DTRELIX=<program> -DWORK_DIR=<dir>
#         -DMODEL=<file or empty> -DEXPECT_STATUS=<n> [-DRUNS=<k>]
#         [-DEXPECT_STDOUT=<a|b|...>] [-DEXPECT_STDERR=<text>]
#         [-DEXPECT_PAIRS=<n>] [-DEXPECT_CONFIGS=<n>] [-DEXPECT_ROWS=<r1|r2|...>]
#         [-DCHECKER=<python> -DCHECK_SCRIPT=<check_outputs.py>]
#         -P run_model.cmake
#
# RUNS runs it that many times in the same folder (test1 and test2 keep
# earlier runs).  A failing run (status not 0) must leave neither file.
# EXPECT_ROWS are the first rows of test1.  With CHECKER, the independent
# checker checks the configurations and the covering.
string(REPLACE "|" ";" prefix "${PREFIX}")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
if(MODEL)
  configure_file("${MODEL}" "${WORK_DIR}/modelTest.txt" COPYONLY)
endif()
if(NOT DEFINED RUNS)
  set(RUNS 1)
endif()

set(failures "")
foreach(run RANGE 1 ${RUNS})
  execute_process(COMMAND ${prefix} ${TRELIX} WORKING_DIRECTORY "${WORK_DIR}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 1500)
  if(NOT "${status}" STREQUAL "${EXPECT_STATUS}")
    string(APPEND failures "  run ${run}: exit status '${status}', expected ${EXPECT_STATUS}\n")
  endif()
endforeach()
file(WRITE "${WORK_DIR}/stdout.txt" "${out}")

if(DEFINED EXPECT_STDOUT)
  string(REPLACE "|" ";" wanted "${EXPECT_STDOUT}")
  foreach(text IN LISTS wanted)
    string(FIND "${out}" "${text}" at)
    if(at EQUAL -1)
      string(APPEND failures "  standard output lacks '${text}'\n")
    endif()
  endforeach()
endif()
if(DEFINED EXPECT_STDERR)
  string(FIND "${err}" "${EXPECT_STDERR}" at)
  if(at EQUAL -1)
    string(APPEND failures "  standard error lacks '${EXPECT_STDERR}'\n")
  endif()
endif()
if(DEFINED EXPECT_PAIRS)
  string(FIND "${out}" "${EXPECT_PAIRS} valid pairs has been generated\n" at)
  if(at EQUAL -1)
    string(APPEND failures "  expected ${EXPECT_PAIRS} valid pairs\n")
  endif()
endif()
if(DEFINED EXPECT_CONFIGS)
  string(FIND "${out}" "Number of configurations ${EXPECT_CONFIGS}\n" at)
  if(at EQUAL -1)
    string(APPEND failures "  expected ${EXPECT_CONFIGS} configurations\n")
  endif()
endif()

if(EXPECT_STATUS STREQUAL "0")
  file(STRINGS "${WORK_DIR}/test2" stats)
  list(LENGTH stats n)
  if(NOT n EQUAL RUNS)
    string(APPEND failures "  test2 has ${n} lines, expected ${RUNS}\n")
  endif()
  foreach(line IN LISTS stats)
    # The model's name, then four integers, each field followed by ";".
    if(NOT line MATCHES "^modelTest\\.txt;[0-9]+;[0-9]+;[0-9]+;[0-9]+;$")
      string(APPEND failures "  test2 line '${line}' is not five fields\n")
    endif()
  endforeach()
  if(DEFINED EXPECT_ROWS)
    file(STRINGS "${WORK_DIR}/test1" rows)
    string(REPLACE "|" ";" wanted "${EXPECT_ROWS}")
    list(LENGTH wanted k)
    list(SUBLIST rows 0 ${k} got)
    if(NOT got STREQUAL wanted)
      string(APPEND failures "  test1 starts '${got}', expected '${wanted}'\n")
    endif()
  endif()
  if(CHECKER)
    execute_process(COMMAND ${CHECKER} ${CHECK_SCRIPT} "${WORK_DIR}/modelTest.txt" "${WORK_DIR}/test1"
                            "${WORK_DIR}/stdout.txt" --runs ${RUNS}
                    RESULT_VARIABLE cstatus OUTPUT_VARIABLE cout ERROR_VARIABLE cerr)
    if(NOT cstatus EQUAL 0)
      string(APPEND failures "  the checker: ${cout}${cerr}\n")
    endif()
  endif()
else()
  foreach(f test1 test2)
    if(EXISTS "${WORK_DIR}/${f}")
      string(APPEND failures "  a failed run wrote ${f}\n")
    endif()
  endforeach()
endif()

if(failures)
  message(FATAL_ERROR "trelix on ${MODEL}:\n${failures}standard output:\n${out}\nstandard error:\n${err}")
endif()
