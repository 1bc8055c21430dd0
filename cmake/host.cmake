# Settings for the host side: the talvik tool and host tests.
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
find_package(ZLIB REQUIRED)

function(talvik_host_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_compile_options(${name} PRIVATE ${TALVIK_WARNINGS})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${TALVIK_ROOT})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "host." PROPERTIES TIMEOUT 300)
endfunction()
