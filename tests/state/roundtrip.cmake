# Saves a program in one process and restores it in a fresh one: the
# restored program must give exactly the answers the saved one gave.
#
#   cmake -DRUN=<command|to|run|prolog_main> -DSOURCE_DIR=<tests/state>
#         -DWORK_DIR=<dir> -P roundtrip.cmake
#
# roundtrip_save.pl prints its answers, then saves itself (save_program/2
# with check/0 as the goal to run after a restore); roundtrip_restore.pl
# only restores the state, whose goal prints the answers again.
string(REPLACE "|" ";" run "${RUN}")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

execute_process(COMMAND ${run} ${SOURCE_DIR}/roundtrip_save.pl
                WORKING_DIRECTORY ${WORK_DIR}
                OUTPUT_VARIABLE saved ERROR_VARIABLE saved_err RESULT_VARIABLE saved_status)
if(NOT saved_status EQUAL 0 OR NOT EXISTS ${WORK_DIR}/roundtrip.sav)
  message(FATAL_ERROR "saving failed (status ${saved_status}):\n${saved}\n${saved_err}")
endif()
string(REGEX REPLACE "saved\n$" "" expected "${saved}")
if(expected STREQUAL saved)
  message(FATAL_ERROR "the saving run did not end with its 'saved' line:\n${saved}")
endif()

# Nothing of the temporary file the writer used may be left.
file(GLOB leftovers ${WORK_DIR}/roundtrip.sav.tmp*)
if(leftovers)
  message(FATAL_ERROR "the writer left ${leftovers}")
endif()

execute_process(COMMAND ${run} ${SOURCE_DIR}/roundtrip_restore.pl
                WORKING_DIRECTORY ${WORK_DIR}
                OUTPUT_VARIABLE restored ERROR_VARIABLE restored_err RESULT_VARIABLE restored_status)
if(NOT restored_status EQUAL 0)
  message(FATAL_ERROR "restoring failed (status ${restored_status}):\n${restored}\n${restored_err}")
endif()
if(NOT restored STREQUAL expected)
  message(FATAL_ERROR "the restored program answered\n${restored}\ninstead of\n${expected}")
endif()
message(STATUS "round trip: the restored program gave the same answers")
