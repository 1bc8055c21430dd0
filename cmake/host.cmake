# Settings for the host side: the talvik tool and host tests.
set(INSTALL_GTEST OFF CACHE BOOL "GoogleTest is not part of what talvik installs")
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# zlib linked statically (like zstd, built from source), so that the installed talvik
# needs no shared library beyond the C and C++ runtimes.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

# PROPERTIES: more CTest properties for every case (name value ...).
function(talvik_host_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_compile_options(${name} PRIVATE ${TALVIK_WARNINGS})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${TALVIK_ROOT})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "host." PROPERTIES TIMEOUT 300 ${arg_PROPERTIES})
endfunction()
