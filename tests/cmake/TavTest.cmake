# tav_test(NAME SOURCE... [LIBS target...] [PROGRAMS target...] [DEFINITIONS def...]
#          [SLOW test...] [PREFIX prefix] [DISCOVERY_TIMEOUT seconds])
#
# One GoogleTest executable NAME built from the sources and linked with LIBS
# and gtest_main; ctest learns its tests by running it after the build.
#
#   PROGRAMS     each program's path as a compile definition, upper case with
#                _PATH: tav_e gives TAV_E_PATH="/.../programs/tav_e"; the
#                programs are built before the test.
#   DEFINITIONS  more compile definitions, e.g. TAV_SAMPLE_PATH="...".
#   SLOW         tests (GoogleTest names, Suite.Name) that take long enough to
#                get the label `slow` too: `ctest -LE slow` leaves them out.
#   PREFIX       put before every test name in ctest.
include(GoogleTest)

function(tav_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PREFIX;DISCOVERY_TIMEOUT"
                        "LIBS;PROGRAMS;DEFINITIONS;SLOW")
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest_main)
  foreach(program ${arg_PROGRAMS})
    string(TOUPPER ${program} macro)
    target_compile_definitions(${name} PRIVATE ${macro}_PATH="$<TARGET_FILE:${program}>")
  endforeach()
  if(arg_PROGRAMS)
    add_dependencies(${name} ${arg_PROGRAMS})
  endif()
  if(arg_DEFINITIONS)
    target_compile_definitions(${name} PRIVATE ${arg_DEFINITIONS})
  endif()

  # Every test is labelled with its folder (codec, programs, lib, tools), so
  # that `ctest -L programs` runs a folder's tests.  Parameterised tests are
  # named by their generators, not by their values.
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(discover NO_PRETTY_VALUES)
  if(arg_PREFIX)
    list(APPEND discover TEST_PREFIX ${arg_PREFIX})
  endif()
  if(arg_DISCOVERY_TIMEOUT)
    list(APPEND discover DISCOVERY_TIMEOUT ${arg_DISCOVERY_TIMEOUT})
  endif()
  gtest_discover_tests(${name} ${discover} PROPERTIES LABELS ${folder})

  # The discovery passes a property's value on as words, so a second label
  # is set by a script of our own, which ctest reads after the discovered
  # tests.
  if(arg_SLOW)
    set(script "")
    foreach(test ${arg_SLOW})
      string(APPEND script "set_tests_properties([=[${arg_PREFIX}${test}]=] PROPERTIES LABELS \"${folder};slow\")\n")
    endforeach()
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${name}_slow.cmake)
    file(WRITE ${file} "${script}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
  endif()
endfunction()
