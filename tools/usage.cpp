#include "tools/usage.hpp"

const char* const talvik_usage = R"(talvik: makes one-file launchers for 64-bit Windows applications

usage:
  talvik pack APP_DIR -o OUT.exe [options]   pack a folder into a launcher image
  talvik list IMAGE.exe                      show an image's constants and entries
  talvik --help | talvik pack --help | talvik --version

talvik list prints the path template, company, product and version of an image made
by talvik pack, then one line per entry: size in bytes, stored CRC-32 (marked "!" when
the body does not match it) and the name, in stream order; then the entry count.

Exit status: 0 on success, 1 on any error (one line "talvik: error: ..." on stderr).
)";

const char* const pack_usage = R"(usage: talvik pack APP_DIR -o OUT.exe [options]
       talvik pack --attached-data FILE -o OUT.exe [options]

Packs every file below APP_DIR into a launcher image. When the image runs, it unpacks
them into the folder its path template names (reusing files whose CRC-32 matches) and
starts the first entry, the application's executable.

  -o, --output OUT.exe   the image to write; it appears only when all went well
  --exe REL              the first entry, relative to APP_DIR ("/" or "\" separated);
                         default: the one .exe file at the top of APP_DIR
  --company TEXT         company name; default: the product name
  --product TEXT         product name; default: the name of the APP_DIR folder
                         (with --attached-data: the output name without .exe)
  --version A.B.C.D      four numbers 0..65535; default: 1.0.0.0
  --template TEXT        where the image unpacks; default:
                         {CACHE_DIR}\<company without blanks>\<product, blanks as ->\<A.B>
                         tokens (any ASCII case): TEMP PROGRAM PROGRAM_BASE PROGRAM_DIR
                         PID HOME CACHE_DIR COMPANY PRODUCT VERSION FILE_VERSION
                         PRODUCT_VERSION RANDOM TIME_US TIME
  --copyright TEXT       LegalCopyright of the version block;
                         default: "Copyright (C) <company>"
  --icon FILE.png        give seven times, once for each size 16 24 32 48 64 128 256
                         (square PNGs of 8-bit RGBA); default: talvik's own icon
  --level 1..22          zstd compression level; default: 19
  --window-log 10..27    zstd window; default: the smallest covering all the data
  --attached-data FILE   build around a ready attached-data block instead of APP_DIR
  --lib-dir DIR          the Windows build folder holding image-link.rsp; default:
                         $TALVIK_LIB_DIR, else the folder talvik was built with
  -q, --quiet            no summary line
  -h, --help             this text

Entries: the executable first, then every other file ordered by its UTF-16 name, code
unit by code unit, with "\" between folder names. Symbolic links count as what they
point to, and must stay inside APP_DIR. Empty folders are not carried.

The version block holds FileDescription = product, OriginalFilename = product with
blanks as "-" plus ".exe", InternalName = the same without ".exe".

A name that may not fit the launcher's 4095-unit path limit is warned about, taking
{CACHE_DIR} as C:\Users\<20 characters>\AppData\Local (43 units), {HOME} as 29, {TEMP}
as 48 and {PROGRAM}, {PROGRAM_BASE} and {PROGRAM_DIR} as 100 units.

Tools: x86_64-w64-mingw32-gcc and x86_64-w64-mingw32-g++ from PATH, or as named by
TALVIK_MINGW_GCC and TALVIK_MINGW_GXX.
)";
