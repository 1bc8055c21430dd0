# zstd from the one pinned source in .deps: the full multithreaded library on the
# host, the decoder alone (common + decompress) for the launcher image.
set(zstd_lib ${TALVIK_ZSTD_DIR}/lib)
if(NOT EXISTS ${zstd_lib}/zstd.h)
  message(FATAL_ERROR "zstd source missing in ${TALVIK_ZSTD_DIR}: run scripts/setup.sh")
endif()

if(CMAKE_CROSSCOMPILING)
  set(zstd_sources
      ${zstd_lib}/common/debug.c ${zstd_lib}/common/entropy_common.c ${zstd_lib}/common/error_private.c
      ${zstd_lib}/common/fse_decompress.c ${zstd_lib}/common/xxhash.c ${zstd_lib}/common/zstd_common.c
      ${zstd_lib}/decompress/huf_decompress.c ${zstd_lib}/decompress/zstd_ddict.c
      ${zstd_lib}/decompress/zstd_decompress.c ${zstd_lib}/decompress/zstd_decompress_block.c
      ${zstd_lib}/decompress/huf_decompress_amd64.S)
  add_library(zstd_decoder STATIC ${zstd_sources})
  target_include_directories(zstd_decoder SYSTEM PUBLIC ${zstd_lib})
  # No legacy formats, no dictionary trainer, no error strings: the launcher only
  # tests ZSTD_isError. Size options chosen by `make bench` (bench/README.md): one Huffman
  # decoder, one sequence decoder and no run-time BMI2 variants at -O2 make the stub 79 KB
  # instead of 179 KB, at 0.98 of the fully optimised decoder's speed (the decode is bound
  # by memory, not by the decoder's code).
  target_compile_definitions(zstd_decoder PRIVATE ZSTD_LEGACY_SUPPORT=0 ZSTD_STRIP_ERROR_STRINGS
                                                  XXH_NAMESPACE=ZSTD_ NDEBUG HUF_FORCE_DECOMPRESS_X1
                                                  ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT DYNAMIC_BMI2=0)
  target_compile_options(zstd_decoder PRIVATE -O2 -D_CRTIMP= -fno-stack-protector -fno-asynchronous-unwind-tables
                                              -ffunction-sections -fdata-sections)
endif()

# The full library: talvik pack's compressor on the host; on Windows only test programs
# use it, to make frames for the reader and extraction tests.
# On Windows it adds the compressor to the decoder library rather than repeating the decoder.
if(CMAKE_CROSSCOMPILING)
  file(GLOB zstd_full_sources ${zstd_lib}/compress/*.c ${zstd_lib}/common/pool.c ${zstd_lib}/common/threading.c)
else()
  file(GLOB zstd_full_sources ${zstd_lib}/common/*.c ${zstd_lib}/compress/*.c ${zstd_lib}/decompress/*.c
       ${zstd_lib}/decompress/huf_decompress_amd64.S)
endif()
add_library(zstd_full STATIC ${zstd_full_sources})
target_include_directories(zstd_full SYSTEM PUBLIC ${zstd_lib})
target_compile_definitions(zstd_full PRIVATE ZSTD_MULTITHREAD ZSTD_LEGACY_SUPPORT=0 XXH_NAMESPACE=ZSTD_ NDEBUG)
target_compile_options(zstd_full PRIVATE -O3)
find_package(Threads REQUIRED)
target_link_libraries(zstd_full PUBLIC Threads::Threads)
if(CMAKE_CROSSCOMPILING)
  target_link_libraries(zstd_full PUBLIC zstd_decoder)
endif()

# talvik.exe's own copy of the full library, as on the host: compressor, decoder with its
# error strings (talvik list shows them) and worker threads (zstd's own Windows threads).
if(CMAKE_CROSSCOMPILING)
  file(GLOB zstd_tool_sources ${zstd_lib}/common/*.c ${zstd_lib}/compress/*.c ${zstd_lib}/decompress/*.c
       ${zstd_lib}/decompress/huf_decompress_amd64.S)
  add_library(zstd_tool STATIC EXCLUDE_FROM_ALL ${zstd_tool_sources})
  target_include_directories(zstd_tool SYSTEM PUBLIC ${zstd_lib})
  target_compile_definitions(zstd_tool PRIVATE ZSTD_MULTITHREAD ZSTD_LEGACY_SUPPORT=0 XXH_NAMESPACE=ZSTD_ NDEBUG)
  target_compile_options(zstd_tool PRIVATE -O3)
endif()
