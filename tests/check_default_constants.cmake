# Configures a fresh build with no options and checks the constants that
# the release launcher is compiled with.
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}" -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCHMARKS=OFF
  RESULT_VARIABLE configured OUTPUT_QUIET)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring a default build failed")
endif()
file(READ "${WORK_DIR}/launcher/launcher_constants.cpp" constants)
file(REMOVE_RECURSE "${WORK_DIR}")
foreach(expected
    "buildServerHost = \"localhost\";"
    "buildServerPort = 0;"
    "buildLockPollMilliseconds = 15000;")
  string(FIND "${constants}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "default build lacks '${expected}':\n${constants}")
  endif()
endforeach()
message(STATUS "default build: host localhost, port 0 (HTTP's 80), lock pause 15000 ms")
