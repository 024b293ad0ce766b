# Each folder names its unit tests once:
#   add_unit_tests(TARGET SOURCES source... LIBRARIES target...
#                  [NATIVE_ONLY source...] [WITH_GAME_DLLS])
# Natively they are one executable of the folder's own, TARGET. For Windows,
# where under emulation every process start takes minutes, the sources and
# libraries of every folder are gathered for tests/windows, which builds
# them into one executable. NATIVE_ONLY sources need a POSIX system: the
# folder says why. WITH_GAME_DLLS: the tests call into PhysFS or SFML, whose
# DLLs must lie beside the executable (tests/windows says where they run).
function(add_unit_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 unit "WITH_GAME_DLLS" "" "SOURCES;LIBRARIES;NATIVE_ONLY")
  if(NOT LAUNCHER_BUILD_TESTS)
    return()
  endif()
  if(NOT WIN32)
    add_executable(${target} ${unit_SOURCES} ${unit_NATIVE_ONLY})
    target_link_libraries(${target} PRIVATE ${unit_LIBRARIES} GTest::gtest_main)
    add_test(NAME ${target} COMMAND ${target})
    return()
  endif()
  set(sources "")
  foreach(source IN LISTS unit_SOURCES)
    get_filename_component(source ${source} ABSOLUTE)
    list(APPEND sources ${source})
  endforeach()
  set(group PORTABLE)
  if(unit_WITH_GAME_DLLS)
    set(group WITH_GAME_DLLS)
  endif()
  set_property(GLOBAL APPEND PROPERTY LAUNCHER_WINDOWS_UNIT_TEST_SOURCES_${group} ${sources})
  set_property(GLOBAL APPEND PROPERTY LAUNCHER_WINDOWS_UNIT_TEST_LIBRARIES_${group} ${unit_LIBRARIES})
endfunction()

# What add_unit_tests gathered for Windows in GROUP (PORTABLE or WITH_GAME_DLLS).
function(windows_unit_tests group sources_variable libraries_variable)
  get_property(sources GLOBAL PROPERTY LAUNCHER_WINDOWS_UNIT_TEST_SOURCES_${group})
  get_property(libraries GLOBAL PROPERTY LAUNCHER_WINDOWS_UNIT_TEST_LIBRARIES_${group})
  list(REMOVE_DUPLICATES libraries)
  set(${sources_variable} ${sources} PARENT_SCOPE)
  set(${libraries_variable} ${libraries} PARENT_SCOPE)
endfunction()
