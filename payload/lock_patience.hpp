#pragma once

#include <windows.h>

// How often, at least, the holder of the extraction lock shows that it is still working
// (payload/lock_file_layout.hpp: the progress record), between the files it finishes.
constexpr DWORD extraction_lock_heartbeat_ms = 1000;

// How long a launcher waits for the holder of the extraction lock while the holder shows no
// progress. A holder shows progress at least every heartbeat while it works, inside a long
// file too, so only a holder that has stopped (suspended, frozen in a
// debugger, stalled on a dead network path) lets this much time pass in silence; the
// figure leaves a wide margin over the longest gap between a working holder's signs, which
// is one 32,768-byte write or one checksum slice (bench/README.md has the measured gaps).
constexpr DWORD extraction_lock_patience_ms = 30000;

// The patience in force. The launcher image links payload/lock_patience.cpp, which gives
// extraction_lock_patience_ms; test programs link tests/support/lock_patience_seam.cpp,
// whose value the lock tests shorten, so that a silent holder is given up in a second or two.
DWORD extraction_lock_patience();
