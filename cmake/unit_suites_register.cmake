# Run by CTest when it starts (see UnitTestsBySuite.cmake): lists the cases
# of the unit-test binary and registers a test per suite, or per case for the
# suites in `per_case`.  Expects `emulator`, `program`, `per_case` and
# `work_dir` to be set.

execute_process(COMMAND ${emulator} ${program} --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE listing_rc
                TIMEOUT 300 WORKING_DIRECTORY ${work_dir})
if(NOT listing_rc EQUAL 0)
  message(FATAL_ERROR "unit tests: `${program} --gtest_list_tests` failed: ${listing_rc}")
endif()

# Parameter descriptions may hold list separators and brackets; only the
# first word of each line matters.
string(REPLACE ";" "," listing "${listing}")
string(REPLACE "[" "(" listing "${listing}")
string(REPLACE "]" ")" listing "${listing}")
string(REGEX MATCHALL "[^\n]+" lines "${listing}")

set(suite "")
set(per_case_index -1)
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ ]+)\\.$")
    # A suite line: `Suite.` or, for a parameterised suite, `Prefix/Suite.`
    set(suite ${CMAKE_MATCH_1})
    list(FIND per_case ${suite} per_case_index)
    if(per_case_index EQUAL -1)
      add_test("${suite}.*" ${emulator} ${program} "--gtest_filter=${suite}.*")
      set_tests_properties("${suite}.*" PROPERTIES
        WORKING_DIRECTORY ${work_dir}
        ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
    endif()
  elseif(line MATCHES "^  ([^ ]+)" AND NOT per_case_index EQUAL -1)
    set(name "${suite}.${CMAKE_MATCH_1}")
    add_test("${name}" ${emulator} ${program} "--gtest_filter=${name}")
    set_tests_properties("${name}" PROPERTIES
      WORKING_DIRECTORY ${work_dir}
      ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0"
      SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
  endif()
endforeach()
