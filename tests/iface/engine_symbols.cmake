cmake_policy(SET CMP0057 NEW)
if(NOT DEFINED WHAT)
  set(WHAT "the interface test")
endif()
# engine_symbols.cmake: the interface test's objects (or a foreign
# resource's library) may name no symbol that the runtime library defines,
# except the ones in ALLOWED: an embedding program and a foreign resource
# reach the runtime only through the dispatch structure.
#   cmake -DNM=nm -DOBJECTS=a.o;b.o -DCORE=libvostrel_core.a -DALLOWED=sym;sym
#         [-DWHAT=text] -P engine_symbols.cmake
execute_process(COMMAND ${NM} --defined-only --extern-only -f posix ${CORE}
                OUTPUT_VARIABLE core_out RESULT_VARIABLE rc ERROR_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${CORE}")
endif()
string(REGEX MATCHALL "\n[^ \n]+ [A-Za-z]" core_lines "\n${core_out}")
set(defined "")
foreach(line ${core_lines})
  string(REGEX REPLACE "^\n([^ ]+) .*$" "\\1" sym "${line}")
  list(APPEND defined "${sym}")
endforeach()
set(bad "")
foreach(obj ${OBJECTS})
  execute_process(COMMAND ${NM} --undefined-only -f posix ${obj}
                  OUTPUT_VARIABLE obj_out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} could not read ${obj}")
  endif()
  string(REGEX MATCHALL "[^ \n]+ U" undefined "${obj_out}")
  foreach(u ${undefined})
    string(REGEX REPLACE " U$" "" sym "${u}")
    if(sym IN_LIST defined AND NOT sym IN_LIST ALLOWED)
      list(APPEND bad "${sym}")
    endif()
  endforeach()
endforeach()
list(LENGTH defined ndefined)
if(ndefined LESS 100)
  message(FATAL_ERROR "only ${ndefined} symbols read from ${CORE}")
endif()
if(bad)
  message(FATAL_ERROR "${WHAT} calls the runtime by symbol: ${bad}")
endif()
message(STATUS "${WHAT} names no runtime symbol but ${ALLOWED}")
