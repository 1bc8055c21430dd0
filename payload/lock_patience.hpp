#pragma once

#include <windows.h>

// How often, at least, the holder of the extraction lock shows that it is still working
// (payload/lock_file_layout.hpp: the progress record), between the files it finishes.
constexpr DWORD extraction_lock_heartbeat_ms = 1000;

// How long a launcher waits for the holder of the extraction lock while the holder shows no
// progress. A holder that works shows some at least every heartbeat plus one step of its
// work (a 32,768-byte piece written, an 8 MiB checksum slice), inside a long file too; so
// only a holder that has stopped (suspended, frozen in a debugger, blocked on a dead network
// path) is silent this long. Measured, the longest silence of a writer unpacking 793 files
// was under 60 ms (bench/README.md, "The lock file").
constexpr DWORD extraction_lock_patience_ms = 30000;

// The patience in force. The launcher image links payload/lock_patience.cpp, which gives
// extraction_lock_patience_ms; test programs link tests/support/lock_patience_seam.cpp,
// whose value the lock tests shorten, so that a silent holder is given up in a second or two.
DWORD extraction_lock_patience();
