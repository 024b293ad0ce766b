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

# A build given `value` for the cache variable `option` must stop at configure time, naming it.
function(expect_refused option value)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}" -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCHMARKS=OFF
            "-D${option}=${value}"
    RESULT_VARIABLE configured OUTPUT_QUIET ERROR_VARIABLE errors)
  file(REMOVE_RECURSE "${WORK_DIR}")
  if(configured EQUAL 0 OR NOT errors MATCHES "${option}:")
    message(FATAL_ERROR "a malformed ${option} '${value}' was accepted:\n${errors}")
  endif()
endfunction()

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
  expect_refused(LAUNCHER_RELEASE_KEYS "${bad}")
endforeach()
message(STATUS "malformed release keys are refused")

# A server list mangled in copying is refused too; one with a port per server is taken.
foreach(bad "a.example;;b.example" "a.example;" "a.example:99999" "a.example:" "http://a.example" "a.example/orn")
  expect_refused(LAUNCHER_SERVER_HOST "${bad}")
endforeach()
execute_process(
  COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}" -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_BENCHMARKS=OFF
          "-DLAUNCHER_SERVER_HOST=a.example;b.example:8081" -DLAUNCHER_SERVER_PORT=8080
  RESULT_VARIABLE configured OUTPUT_QUIET ERROR_VARIABLE errors)
if(configured EQUAL 0)
  file(READ "${WORK_DIR}/launcher/launcher_constants.cpp" constants)
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
if(NOT constants MATCHES "buildServerHost = \"a.example;b.example:8081\";")
  message(FATAL_ERROR "a list of two servers was not built in:\n${errors}")
endif()
message(STATUS "malformed server lists are refused, a list of two is built in")
