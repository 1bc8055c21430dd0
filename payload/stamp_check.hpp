#pragma once

#include <stddef.h>
#include <stdint.h>

// The fast road of an image that checks by metadata: when directory holds a stamp of this
// image whose every entry is on disk with the size and last-write time it records (each
// directory of the tree listed once), the first entry's path, the child to start; the
// attached data then need not be opened. Null for every other finding (no stamp, another
// image's, one that does not parse, a missing or changed file), and always for an image
// that checks by CRC-32.
const wchar_t* tree_matches_stamp(const wchar_t* directory);

// Whether a stamp's bytes parse: its frame names this image and every record is whole, with
// a name of 1 to 1023 units given once. The part of tree_matches_stamp that reads bytes
// someone else may have written, before it looks at any file; the fuzzer drives it.
bool tree_stamp_parses(const unsigned char* bytes, size_t length);

// The same test for a stamp of any image of this company and product: its entry count, 0
// when it does not parse or names another product; the identity it names goes to *identity
// and where its records begin to *records_at.
uint32_t product_stamp_entries(const unsigned char* bytes, size_t length, uint64_t* identity,
                               size_t* records_at);

// One record of a stamp that parsed, read in place: the file's size and last-write time and
// its name (name_units long, no NUL); the next record follows the name.
struct StampRecord {
    uint64_t size;
    uint64_t time;
    uint32_t name_units;
    const wchar_t* name;
};
StampRecord stamp_record_at(const unsigned char* record);

// The stamp of directory read whole into memory from VirtualAlloc (the caller frees it with
// VirtualFree); null when there is none or it is too large to be one.
unsigned char* read_stamp(const wchar_t* directory, size_t* length);
