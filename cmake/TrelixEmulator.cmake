# How the build runs the 32-bit programs it makes.
#
# Every target is 32-bit x86.  Some 64-bit kernels are built without IA-32
# emulation and refuse such programs ("Exec format error").  At configure
# time we compile a trivial 32-bit program and run it: where it runs, the
# programs run natively and nothing changes; where it does not, every
# program the build makes runs through the user-mode emulator `qemu-i386`,
# by CMake's own mechanism: CMAKE_CROSSCOMPILING_EMULATOR initialises each
# executable's CROSSCOMPILING_EMULATOR property, which add_test, GoogleTest
# discovery and `trelix_command` (for custom commands that run our own
# build-time tools) all honour.
#
# -DTRELIX_EMULATOR=qemu-i386 forces the emulator on a machine that runs
# 32-bit programs natively, so the emulated path can be checked anywhere;
# -DTRELIX_EMULATOR=OFF forces native execution.
#
# Results for the rest of the build:
#   TRELIX_EMULATED          ON when programs run under the emulator
#   TRELIX_EMULATOR_COMMAND  the command list that runs a program (empty natively)
#   trelix_command(VAR target args...)  the command line that runs a built tool
#   trelix_program_settings(target)   the one place sanitizer options are set

set(TRELIX_EMULATOR "" CACHE STRING
    "Run built programs through this emulator (empty: probe; OFF: native)")

function(_trelix_probe_native result)
  set(dir ${CMAKE_BINARY_DIR}/CMakeFiles/trelix_probe)
  file(WRITE ${dir}/probe.c "int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n")
  try_compile(compiled ${dir}/build ${dir}/probe.c
              COMPILE_DEFINITIONS -m32 LINK_OPTIONS -m32
              COPY_FILE ${dir}/probe32
              OUTPUT_VARIABLE compile_log)
  if(NOT compiled)
    message(FATAL_ERROR "trelix: cannot build a 32-bit x86 program "
            "(is g++-multilib installed?)\n${compile_log}")
  endif()
  execute_process(COMMAND ${dir}/probe32 RESULT_VARIABLE rc
                  OUTPUT_QUIET ERROR_QUIET)
  set(${result} ${rc} PARENT_SCOPE)
  set(TRELIX_PROBE_PROGRAM ${dir}/probe32 PARENT_SCOPE)
endfunction()

_trelix_probe_native(native_rc)
set(TRELIX_EMULATED OFF)
set(TRELIX_EMULATOR_COMMAND "")
if(TRELIX_EMULATOR STREQUAL "OFF")
  if(NOT native_rc EQUAL 0)
    message(FATAL_ERROR "trelix: TRELIX_EMULATOR=OFF, but this machine cannot "
            "run 32-bit x86 programs (probe: ${native_rc})")
  endif()
  message(STATUS "trelix: 32-bit programs run natively (forced by TRELIX_EMULATOR=OFF)")
elseif(TRELIX_EMULATOR STREQUAL "" AND native_rc EQUAL 0)
  message(STATUS "trelix: 32-bit programs run natively (the probe program ran)")
else()
  if(TRELIX_EMULATOR STREQUAL "")
    set(emulator_name qemu-i386)
    set(why "the kernel refused the 32-bit probe program: ${native_rc}")
  else()
    set(emulator_name ${TRELIX_EMULATOR})
    set(why "forced by TRELIX_EMULATOR=${TRELIX_EMULATOR}")
  endif()
  find_program(TRELIX_EMULATOR_PROGRAM ${emulator_name})
  if(NOT TRELIX_EMULATOR_PROGRAM)
    message(FATAL_ERROR "trelix: 32-bit programs must run under ${emulator_name} "
            "(${why}), but it is not installed: install Debian's qemu-user")
  endif()
  set(TRELIX_EMULATOR_COMMAND ${TRELIX_EMULATOR_PROGRAM})
  if(TRELIX_SANITIZE)
    # AddressSanitizer's shadow mapping assumes the guest never maps above
    # 0xC0000000; without the limit the emulator hands out such addresses and
    # ASan reports them as wild pointers.
    list(APPEND TRELIX_EMULATOR_COMMAND -R 0xc0000000)
  endif()
  execute_process(COMMAND ${TRELIX_EMULATOR_COMMAND} ${TRELIX_PROBE_PROGRAM}
                  RESULT_VARIABLE emulated_rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT emulated_rc EQUAL 0)
    string(JOIN " " shown ${TRELIX_EMULATOR_COMMAND})
    message(FATAL_ERROR "trelix: the probe program fails under ${shown}: ${emulated_rc}")
  endif()
  set(TRELIX_EMULATED ON)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TRELIX_EMULATOR_COMMAND})
  string(JOIN " " shown ${TRELIX_EMULATOR_COMMAND})
  message(STATUS "trelix: 32-bit programs run under ${shown} (${why})")
endif()

# The command line that runs the built program TARGET with ARGS, for
# add_custom_command: through the emulator when there is one.
function(trelix_command var target)
  set(${var} ${TRELIX_EMULATOR_COMMAND} $<TARGET_FILE:${target}> ${ARGN} PARENT_SCOPE)
endfunction()

# Sanitizer options, set once for every program: compiled into the program
# (`__asan_default_options`), so tests, GoogleTest discovery and build tools
# all see them whatever environment they run in.  Leak detection does not
# work under user-mode emulation (the leak checker stops the world with
# ptrace, which the emulator lacks, and the process hangs at exit), so it is
# turned off there, and only there.
set(TRELIX_ASAN_DEFAULTS "")
if(TRELIX_SANITIZE AND TRELIX_EMULATED)
  set(TRELIX_ASAN_DEFAULTS "detect_leaks=0")
  message(STATUS "trelix: leak detection is off (it cannot run under the emulator)")
endif()
set(TRELIX_UBSAN_DEFAULTS "print_stacktrace=1")

function(trelix_program_settings target)
  if(TRELIX_SANITIZE)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/sanitizer_defaults.cpp)
    set_source_files_properties(${CMAKE_SOURCE_DIR}/cmake/sanitizer_defaults.cpp
      PROPERTIES COMPILE_DEFINITIONS
      "TRELIX_ASAN_DEFAULTS=\"${TRELIX_ASAN_DEFAULTS}\";TRELIX_UBSAN_DEFAULTS=\"${TRELIX_UBSAN_DEFAULTS}\"")
  endif()
  if(TRELIX_EMULATED)
    target_compile_definitions(${target} PRIVATE TRELIX_EMULATED=1)
  endif()
endfunction()
