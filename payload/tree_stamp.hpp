#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

// The stamp of an unpacked tree: what a launcher saw of every entry when it last read the
// whole stream and found or made each file whole. An image that checks by metadata trusts it
// for reuse; every image's launchers write it, so that a later version can tell which app a
// tree belongs to and which files it may remove. Layout, integers little-endian:
//   magic (8 bytes), format version (u32), entry count (u32), image identity (u64),
//   company and product name lengths in units (u32 each), the two names (UTF-16, no NUL);
//   per entry in stream order (the first is the child): size (u64), last-write time (u64,
//   a FILETIME), name length in units (u32), the name (UTF-16, relative to the tree, no NUL);
//   the CRC-32 of everything before it (u32), so that a cut or foreign file never parses.
constexpr unsigned char tree_stamp_magic[8] = {'T', 'L', 'V', 'K', 'S', 'T', 'M', 'P'};
constexpr uint32_t tree_stamp_version = 2;
constexpr size_t tree_stamp_header_size = 32;
// Names longer than this are not recorded: the image writes no stamp.
constexpr uint32_t tree_stamp_largest_name_units = 1024;
constexpr size_t tree_stamp_record_fixed_size = 20;
constexpr size_t tree_stamp_trailer_size = 4;
// Far above any real tree, and below what a single read can fill.
constexpr uint64_t tree_stamp_largest_size = uint64_t{1} << 30;

// The extraction's side, over the entry it is unpacking (current_entry.hpp).
//
// Starts recording for the tree in directory when the image has an identity; without one
// every other call does nothing, apart from the removal before a write.
void begin_tree_stamp(const wchar_t* directory);
bool tree_stamp_recording();
// The reuse test's sighting of the file it is testing: forgotten as each test starts, then
// taken from the handle it checksums through (whose sharing keeps writers out; size is the
// length read through it) or, for an empty entry, from the directory.
void forget_checked_file();
void note_checked_file(HANDLE file, uint64_t size);
void note_checked_attributes(const WIN32_FILE_ATTRIBUTE_DATA& data);
// The file could only be checked beside a writer: the run writes no stamp.
void note_unvouched_file();
// One entry done: found intact (as last sighted), or written in full and not yet closed:
// its last-write time is then set to the run's own through the handle, so that no query of
// the file system is needed and closing it changes nothing the stamp says.
void record_verified_entry();
void record_written_entry(HANDLE file, uint64_t size);
// Called before each file is opened for writing: removes the stamp once per hold of the
// extraction lock, since another launcher may have written one while it was given away.
void clear_tree_stamp_before_write();
// After the whole stream was read: writes the stamp as a new file and moves it into place,
// holding the extraction lock. A run that wrote nothing leaves an equal stamp as it is. Any
// failure leaves no stamp and is not an error.
void finish_tree_stamp();
