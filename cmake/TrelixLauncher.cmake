# The build pipeline and launcher executables.
#
# state_builder (tools/) writes the runtime's state, vrrt.sav, once, and an
# application's state from its Prolog files on top of it;
# trelix_launcher() links a launcher around a runtime state and an
# application state, both embedded as data resources
# (cmake/embed_states.cmake).  Both steps run at build time through
# trelix_command, so they work under the emulator too.
#
#   trelix_app_state(VAR NAME FILE.pl...)   VAR: the path of NAME.sav
#   trelix_launcher(TARGET APP_STATE <state> [RUNTIME_STATE <state>])

# The launcher's three units, compiled once for every launcher (and in
# every configuration, so that they keep compiling).
add_library(trelix_launcher_units OBJECT
  ${CMAKE_SOURCE_DIR}/app/launcher_main.cpp
  ${CMAKE_SOURCE_DIR}/app/launcher.cpp
  ${CMAKE_SOURCE_DIR}/app/launcher_resources.cpp)
target_include_directories(trelix_launcher_units PRIVATE ${CMAKE_SOURCE_DIR}/include)

# The kernel brings its own process entry with the start-up layer; until
# then the launcher links a stand-in.
file(GLOB _trelix_kernel_sources ${CMAKE_SOURCE_DIR}/Emulator/*.cpp)
set(TRELIX_KERNEL_HAS_MAIN_INTERNAL OFF)
foreach(source ${_trelix_kernel_sources})
  file(STRINGS ${source} hit REGEX "^int vr_main_internal\\(")
  if(hit)
    set(TRELIX_KERNEL_HAS_MAIN_INTERNAL ON)
  endif()
endforeach()
if(NOT TRELIX_KERNEL_HAS_MAIN_INTERNAL)
  target_sources(trelix_launcher_units PRIVATE ${CMAKE_SOURCE_DIR}/app/main_standin.cpp)
endif()

# The pipeline needs the saved-state writer ('$save'/3) and a start-up that
# restores states (the interface's VR_restore).
file(STRINGS ${CMAKE_SOURCE_DIR}/Emulator/pred_table.cpp _trelix_save REGEX "\"\\$save\"")
file(STRINGS ${CMAKE_SOURCE_DIR}/include/vostrel/vostrel_api.def _trelix_restore REGEX "^VR_API\\(113, VR_restore,")
if(_trelix_save AND _trelix_restore)
  set(TRELIX_PIPELINE ON)
  message(STATUS "trelix: the launcher is built with its embedded states")
else()
  set(TRELIX_PIPELINE OFF)
  message(STATUS "trelix: the launcher's units compile, but saved states or the start-up that "
                 "restores them are missing: no trelix executable")
endif()

if(TRELIX_PIPELINE)
  add_executable(state_builder ${CMAKE_SOURCE_DIR}/tools/state_builder.cpp)
  target_link_libraries(state_builder PRIVATE vostrel_core)
  trelix_program_settings(state_builder)

  set(TRELIX_RUNTIME_STATE ${CMAKE_BINARY_DIR}/states/vrrt.sav)
  file(GLOB TRELIX_RUNTIME_LIBRARY_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/Emulator/lib/*.pl)
  trelix_command(_trelix_run_builder state_builder runtime ${TRELIX_RUNTIME_STATE})
  add_custom_command(OUTPUT ${TRELIX_RUNTIME_STATE}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/states
                     COMMAND ${_trelix_run_builder}
                     DEPENDS state_builder ${TRELIX_RUNTIME_LIBRARY_SOURCES}
                     COMMENT "Saving the runtime's state vrrt.sav" VERBATIM)
  add_custom_target(trelix_runtime_state DEPENDS ${TRELIX_RUNTIME_STATE})
endif()

function(trelix_app_state var name)
  set(out ${CMAKE_BINARY_DIR}/states/${name}.sav)
  trelix_command(run state_builder app ${TRELIX_RUNTIME_STATE} ${out} ${ARGN})
  add_custom_command(OUTPUT ${out}
                     COMMAND ${run}
                     DEPENDS state_builder ${TRELIX_RUNTIME_STATE} ${ARGN}
                     COMMENT "Saving the application state ${name}.sav" VERBATIM)
  set(${var} ${out} PARENT_SCOPE)
endfunction()

function(trelix_launcher target)
  cmake_parse_arguments(L "" "APP_STATE;RUNTIME_STATE" "" ${ARGN})
  if(NOT L_RUNTIME_STATE)
    set(L_RUNTIME_STATE ${TRELIX_RUNTIME_STATE})
  endif()
  set(unit ${CMAKE_BINARY_DIR}/launchers/${target}_states.cpp)
  add_custom_command(OUTPUT ${unit}
                     COMMAND ${CMAKE_COMMAND} -DOUTPUT=${unit} -DRUNTIME_STATE=${L_RUNTIME_STATE}
                             -DAPP_STATE=${L_APP_STATE} -P ${CMAKE_SOURCE_DIR}/cmake/embed_states.cmake
                     DEPENDS ${L_RUNTIME_STATE} ${L_APP_STATE} ${CMAKE_SOURCE_DIR}/cmake/embed_states.cmake
                     VERBATIM)
  # The assembler reads the states themselves.
  set_source_files_properties(${unit} PROPERTIES OBJECT_DEPENDS "${L_RUNTIME_STATE};${L_APP_STATE}")
  add_executable(${target} ${unit} $<TARGET_OBJECTS:trelix_launcher_units>)
  target_link_libraries(${target} PRIVATE vostrel_core)
  trelix_program_settings(${target})
  if(TARGET trelix_runtime_state)
    add_dependencies(${target} trelix_runtime_state)
  endif()
endfunction()
