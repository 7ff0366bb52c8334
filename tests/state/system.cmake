# The whole system saved by a runtime that compiled the library from
# source, restored into a runtime that never compiled it: the library must
# work there as it did where it was compiled.
#
#   cmake -DMAIN=<command|for|prolog_main> -DTOOL=<command|for|state_tool>
#         -DSOURCE_DIR=<tests/state> -DWORK_DIR=<dir> -P system.cmake
string(REPLACE "|" ";" main "${MAIN}")
string(REPLACE "|" ";" tool "${TOOL}")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(program ${SOURCE_DIR}/system_check.pl)

execute_process(COMMAND ${main} ${program} WORKING_DIRECTORY ${WORK_DIR}
                OUTPUT_VARIABLE expected ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the program fails on the compiled library (status ${status}):\n${expected}\n${err}")
endif()
execute_process(COMMAND ${tool} system-save ${WORK_DIR}/system.sav WORKING_DIRECTORY ${WORK_DIR}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "saving the whole system failed (status ${status}):\n${out}\n${err}")
endif()
message(STATUS "${err}")
execute_process(COMMAND ${tool} system-restore ${WORK_DIR}/system.sav ${program} WORKING_DIRECTORY ${WORK_DIR}
                OUTPUT_VARIABLE restored ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the program fails on the restored library (status ${status}):\n${restored}\n${err}")
endif()
message(STATUS "${err}")
if(NOT restored STREQUAL expected)
  message(FATAL_ERROR "on the restored library the program printed\n${restored}\ninstead of\n${expected}")
endif()
