# Settings for the mingw side: launcher code options, the image link line, and test programs.

# Launcher code links into a CRT-free image: no exceptions, RTTI, unwind tables or
# stack protector, whose support would pull in the compiler's runtime. No -fdata-sections:
# with it mingw's gcc places zero-filled buffers in .data$ sections, so the image would
# carry the launcher's 250 KB of buffers as file bytes instead of .bss.
set(TALVIK_LAUNCHER_OPTIONS ${TALVIK_WARNINGS} -O2 -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-stack-protector -ffunction-sections -municode
    # Calls to C functions bind to plain symbols, which our runtime or mingw's import library supply.
    -D_CRTIMP=)
# The runtime itself, and the program that tests it: without builtins and loop-pattern
# detection, so that the compiler neither turns a loop into a call to the function it
# implements nor answers a call to one of them itself.
set(TALVIK_FREESTANDING_OPTIONS ${TALVIK_LAUNCHER_OPTIONS} -ffreestanding -fno-tree-loop-distribute-patterns
    -fno-builtin)

# Header settings of every launcher image: the stub is linked with them (image-link.rsp), and
# talvik makes every image from the stub.
set(TALVIK_IMAGE_LINK_OPTIONS
    -nostdlib -static -s
    -Wl,-e,talvik_entry
    -Wl,--subsystem,console:6.0
    -Wl,--major-os-version,6 -Wl,--minor-os-version,0
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -Wl,--tsaware
    # PE32+ images are large-address-aware by default; ld has no switch for it.
    -Xlinker --stack -Xlinker 0x968000,0x1000 -Xlinker --heap -Xlinker 0x100000,0x1000
    -Wl,--no-insert-timestamp -Wl,--build-id=none -Wl,--gc-sections -Wl,--exclude-all-symbols)

add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# A Windows test program: GoogleTest with the normal mingw runtime, linked statically so
# that Wine needs no DLLs beside it; cases are listed when CTest runs.
function(talvik_windows_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_compile_options(${name} PRIVATE ${TALVIK_WARNINGS})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest_main GTest::gmock)
  target_link_options(${name} PRIVATE -static)
  target_include_directories(${name} PRIVATE ${TALVIK_ROOT})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       TEST_PREFIX "win." PROPERTIES TIMEOUT 120)
endfunction()
