#pragma once

#include <stdint.h>

// The lock file of an unpacked tree: its name in the tree's root, the byte ranges that
// launchers lock in it and the progress record that its writer keeps in it. Shared by the
// launcher, by talvik pack (which keeps the name out of every tree) and by the tests, so
// everything here is plain constants.
//
// The file only carries locks and the record; its contents are never read as a tree's data.
// Byte ranges are locked with LockFileEx, never read or written: they lie far past the
// record, so that a lock never stands in the way of reading the record (Windows enforces
// byte-range locks on reads and writes). A range held by a process goes with its handle, so
// a launcher that is killed or crashes leaves no lock behind.
//
//   writer range, exclusive: held by the one launcher that writes files of the tree (or its
//     stamp) at a time. Every writer updates the progress record while it holds it.
//   request range, shared: held by launchers waiting for the writer range, to ask its holder
//     to give it up at the end of the file it writes. The holder looks by trying to lock the
//     range exclusively: when that fails, somebody asks.
//   in-use range, shared: held by every launcher from before it looks at the tree until its
//     child has ended; whoever removes a tree takes the writer range and then this range
//     exclusively, both at once, and leaves the tree alone when either is taken. The
//     extraction never locks it.
//
// Further ranges go above these, one byte each.

// ASCII, so that talvik pack and the launcher spell it alike. talvik pack refuses a top-level
// name that begins with it, in any case: launchers also probe the tree's root under a name
// that begins with it (lock name, '-', process id, ".tmp").
constexpr char extraction_lock_file_name[] = ".talvik-lock";

// 4 GiB: no reader of the record ever reaches it.
constexpr uint64_t lock_range_base = uint64_t{1} << 32;
constexpr uint64_t lock_writer_offset = lock_range_base;
constexpr uint64_t lock_request_offset = lock_range_base + 1;
constexpr uint64_t lock_in_use_offset = lock_range_base + 2;
constexpr uint32_t lock_range_length = 1;

// The progress record at offset 0, integers little-endian: the writer's process id (u32),
// the files it has finished (u32), and a count it raises whenever it shows that it is still
// working (u64), inside long files too. Waiting launchers read it: any change is progress,
// and a change of the first two fields means that a file was finished.
constexpr uint32_t lock_record_offset = 0;
constexpr uint32_t lock_record_size = 16;

// The condemned mark (u32, after the record): non-zero once a launcher that proved the tree
// unused is about to move it aside for removal. A launcher that gets the in-use range and
// finds the mark set lets go and opens the lock file again by its path, which then names a
// new tree once the old one has moved.
constexpr uint32_t lock_condemned_offset = lock_record_offset + lock_record_size;
