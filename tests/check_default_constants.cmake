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
    "buildLockPollMilliseconds = 15000;"
    "buildRequestWindowMilliseconds = 60000;"
    "buildReleaseKeys = \"\";"
    "buildDigestCache = true;")
  string(FIND "${constants}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "default build lacks '${expected}':\n${constants}")
  endif()
endforeach()
message(STATUS "default build: host localhost, port 0 (HTTP's 80), lock pause 15000 ms, request window 60000 ms, unsigned releases")

# A release key damaged in copying (one letter of the test key changed) is refused at configure time.
file(READ "${SOURCE_DIR}/tests/keys/test-release.pub" key)
string(STRIP "${key}" key)
string(REGEX MATCH ":(.)" colon_and_letter "${key}")
set(other_letter A)
if(CMAKE_MATCH_1 STREQUAL "A")
  set(other_letter B)
endif()
string(REPLACE "${colon_and_letter}" ":${other_letter}" damaged "${key}")
foreach(bad "${damaged}" "${key};" "not-a-key")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}" -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCHMARKS=OFF
            "-DLAUNCHER_RELEASE_KEYS=${bad}"
    RESULT_VARIABLE configured OUTPUT_QUIET ERROR_VARIABLE errors)
  file(REMOVE_RECURSE "${WORK_DIR}")
  if(configured EQUAL 0 OR NOT errors MATCHES "LAUNCHER_RELEASE_KEYS")
    message(FATAL_ERROR "a malformed release key '${bad}' was accepted:\n${errors}")
  endif()
endforeach()
message(STATUS "malformed release keys are refused")
