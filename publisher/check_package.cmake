# Builds the orn-publish package with CPack, unpacks it into a scratch root
# with dpkg-deb, and runs the packaged command from there: --version, then
# the README's deployer path and cron lines (README_TEST runs them).
set(work ${BUILD_DIR}/package-check)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
execute_process(COMMAND cpack -G DEB -B ${work} --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE built OUTPUT_VARIABLE said ERROR_VARIABLE said)
file(GLOB packages ${work}/orn-publish_*.deb)
if(NOT built EQUAL 0 OR NOT packages)
  message(FATAL_ERROR "cpack made no orn-publish package: ${said}")
endif()
execute_process(COMMAND dpkg-deb -x ${packages} ${work}/root RESULT_VARIABLE unpacked)
execute_process(COMMAND dpkg-deb -f ${packages} Package Depends OUTPUT_VARIABLE fields)
execute_process(COMMAND ${work}/root/usr/bin/orn-publish --version
                RESULT_VARIABLE ran OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT unpacked EQUAL 0 OR NOT ran EQUAL 0 OR NOT version STREQUAL "orn-publish ${EXPECTED_VERSION}")
  message(FATAL_ERROR "the packaged orn-publish --version gave '${version}' (status ${ran})")
endif()
foreach(installed usr/share/man/man1/orn-publish.1 usr/share/doc/orn-publish/README.md)
  if(NOT EXISTS ${work}/root/${installed})
    message(FATAL_ERROR "the package lacks /${installed}")
  endif()
endforeach()
if(NOT fields MATCHES "Package: orn-publish\nDepends: .*libc6")
  message(FATAL_ERROR "the package's fields: ${fields}")
endif()
execute_process(COMMAND ${PYTHON} ${README_TEST} --publisher ${work}/root/usr/bin/orn-publish
                        Publisher.test_the_readmes_commands_run_as_written
                RESULT_VARIABLE walked OUTPUT_VARIABLE said ERROR_VARIABLE said)
if(NOT walked EQUAL 0)
  message(FATAL_ERROR "the README's commands failed with the packaged orn-publish: ${said}")
endif()
message(STATUS "${packages}: ${version}")
file(REMOVE_RECURSE ${work})
