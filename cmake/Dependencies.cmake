# PhysFS and SFML (network, system): Debian's packages natively; for the
# Windows target, Windows builds installed under LAUNCHER_WINDOWS_DEPS_PREFIX
# (they are not packaged for the cross toolchain).
if(WIN32)
  set(LAUNCHER_WINDOWS_DEPS_PREFIX "" CACHE PATH "Where a Windows PhysFS and SFML (network, system) are installed")
  set(LAUNCHER_HAVE_PHYSFS OFF)
  set(LAUNCHER_HAVE_SFML OFF)
  if(LAUNCHER_WINDOWS_DEPS_PREFIX)
    find_path(PHYSFS_INCLUDE_DIR physfs.h PATHS ${LAUNCHER_WINDOWS_DEPS_PREFIX}/include
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    find_library(PHYSFS_LIBRARY NAMES physfs PATHS ${LAUNCHER_WINDOWS_DEPS_PREFIX}/lib
                 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(PHYSFS_INCLUDE_DIR AND PHYSFS_LIBRARY)
      add_library(launcher_physfs INTERFACE)
      target_include_directories(launcher_physfs INTERFACE ${PHYSFS_INCLUDE_DIR})
      target_link_libraries(launcher_physfs INTERFACE ${PHYSFS_LIBRARY})
      set(LAUNCHER_HAVE_PHYSFS ON)
    endif()
    find_package(SFML 2.5 COMPONENTS network system CONFIG
                 PATHS ${LAUNCHER_WINDOWS_DEPS_PREFIX}/lib/cmake/SFML NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(SFML_FOUND)
      set(LAUNCHER_HAVE_SFML ON)
    endif()
    # What ships beside ORN_Launcher.exe, under the names the self-update knows.
    set(LAUNCHER_WINDOWS_DLLS ${LAUNCHER_WINDOWS_DEPS_PREFIX}/bin/physfs.dll
        ${LAUNCHER_WINDOWS_DEPS_PREFIX}/bin/sfml-network-2.dll ${LAUNCHER_WINDOWS_DEPS_PREFIX}/bin/sfml-system-2.dll)
  endif()
  message(STATUS "Windows SFML (network, system): ${LAUNCHER_HAVE_SFML}; Windows PhysFS: ${LAUNCHER_HAVE_PHYSFS}")
  # A test build without the launcher would pass with its end-to-end suite
  # left out; it is an error instead.
  if(LAUNCHER_BUILD_TESTS AND NOT (LAUNCHER_HAVE_PHYSFS AND LAUNCHER_HAVE_SFML))
    message(FATAL_ERROR "The Windows tests need a Windows PhysFS and SFML under LAUNCHER_WINDOWS_DEPS_PREFIX "
                        "(scripts/build-windows-deps.sh makes them), or configure with -DLAUNCHER_BUILD_TESTS=OFF")
  endif()
  if(LAUNCHER_HAVE_PHYSFS AND LAUNCHER_HAVE_SFML)
    message(STATUS "Building ORN_Launcher.exe for Windows")
  else()
    message(STATUS "ORN_Launcher.exe is NOT built: it needs a Windows PhysFS and SFML under "
                   "LAUNCHER_WINDOWS_DEPS_PREFIX (scripts/build-windows-deps.sh makes them); "
                   "building the portable parts, the platform layer and the resources")
  endif()
else()
  find_package(PkgConfig REQUIRED)
  find_package(Threads REQUIRED)
  pkg_check_modules(PHYSFS REQUIRED IMPORTED_TARGET physfs>=2.1)
  add_library(launcher_physfs INTERFACE)
  target_link_libraries(launcher_physfs INTERFACE PkgConfig::PHYSFS)
  find_package(SFML 2.5 REQUIRED COMPONENTS network system)
  set(LAUNCHER_HAVE_PHYSFS ON)
  set(LAUNCHER_HAVE_SFML ON)
endif()
# libsodium (Ed25519, SHA-256), linked statically into the launcher and the
# publisher: a game directory keeps its four own files.
if(WIN32)
  find_path(SODIUM_INCLUDE_DIR sodium.h PATHS ${LAUNCHER_WINDOWS_DEPS_PREFIX}/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(SODIUM_STATIC_LIBRARY NAMES libsodium.a PATHS ${LAUNCHER_WINDOWS_DEPS_PREFIX}/lib
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT SODIUM_INCLUDE_DIR OR NOT SODIUM_STATIC_LIBRARY)
    message(FATAL_ERROR "No Windows libsodium under LAUNCHER_WINDOWS_DEPS_PREFIX (scripts/build-windows-deps.sh makes it)")
  endif()
  add_library(launcher_sodium INTERFACE)
  target_include_directories(launcher_sodium INTERFACE ${SODIUM_INCLUDE_DIR})
  target_compile_definitions(launcher_sodium INTERFACE SODIUM_STATIC)
  target_link_libraries(launcher_sodium INTERFACE ${SODIUM_STATIC_LIBRARY})
else()
  pkg_check_modules(SODIUM REQUIRED libsodium>=1.0.18)
  find_library(SODIUM_STATIC_LIBRARY NAMES libsodium.a HINTS ${SODIUM_LIBRARY_DIRS} REQUIRED)
  add_library(launcher_sodium INTERFACE)
  target_include_directories(launcher_sodium INTERFACE ${SODIUM_INCLUDE_DIRS})
  target_link_libraries(launcher_sodium INTERFACE ${SODIUM_STATIC_LIBRARY} Threads::Threads)
endif()

if(LAUNCHER_HAVE_PHYSFS AND LAUNCHER_HAVE_SFML)
  set(LAUNCHER_HAVE_PHYSFS_AND_SFML ON)
else()
  set(LAUNCHER_HAVE_PHYSFS_AND_SFML OFF)
endif()

# A host program: the icon is drawn with it, and the end-to-end tests and
# resource checks run on it. Named by path, never through the emulator.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Tests that talk to a scripted server use one loopback port, picked when
# the build is first configured.
if(LAUNCHER_BUILD_TESTS AND NOT LAUNCHER_TEST_PORT)
  execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/free_port.py
                  OUTPUT_VARIABLE picked_port OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(LAUNCHER_TEST_PORT "${picked_port}" CACHE STRING "Loopback port of the test HTTP server")
endif()
# The second server of the launcher built with two.
if(LAUNCHER_BUILD_TESTS AND NOT LAUNCHER_TEST_MIRROR_PORT)
  set(picked_port "${LAUNCHER_TEST_PORT}")
  while(picked_port STREQUAL LAUNCHER_TEST_PORT)
    execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/free_port.py
                    OUTPUT_VARIABLE picked_port OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endwhile()
  set(LAUNCHER_TEST_MIRROR_PORT "${picked_port}" CACHE STRING "Loopback port of the test launchers' second server")
endif()

if(LAUNCHER_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # Debian's googletest package ships the sources; build them for the target.
    # Its CMake project defines GTest::gtest and GTest::gtest_main.
    add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
