# Unit tests a suite per process, for builds whose programs run under the
# emulator.
#
# There every process start is dear: an AddressSanitizer program of our size
# needs about two seconds of emulated start-up before its first test, so
# running each of some nine hundred cases in a process of its own costs more
# than the cases themselves.  Under the emulator the unit-test binary is
# therefore run once per test suite (`--gtest_filter=Suite.*`), and only the
# suites named PER_CASE, which need a fresh process for each case, keep a
# process per case.  Natively the GoogleTest discovery of a process per case
# is kept: there isolation is cheap.
#
# The cases are listed when CTest starts (the binary's --gtest_list_tests,
# through the emulator), as GoogleTest's own discovery does, so the list is
# never stale.  A suite's CTest name is `Suite.*`; a case's is `Suite.Case`.
#
#   trelix_unit_tests_by_suite(target PER_CASE suite...)

function(trelix_unit_tests_by_suite target)
  cmake_parse_arguments(arg "" "" "PER_CASE" ${ARGN})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake)
  file(GENERATE OUTPUT ${script} CONTENT
"# Written by the build: registers ${target}'s tests a suite per process.
set(emulator ${TRELIX_EMULATOR_COMMAND})
set(program \"$<TARGET_FILE:${target}>\")
set(per_case ${arg_PER_CASE})
set(work_dir \"${CMAKE_CURRENT_BINARY_DIR}\")
include(\"${CMAKE_SOURCE_DIR}/cmake/unit_suites_register.cmake\")
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
