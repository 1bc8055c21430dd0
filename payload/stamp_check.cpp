#include "payload/stamp_check.hpp"

#include <windows.h>

#include <stdint.h>
#include <string.h>
#include <wchar.h>

#include <zlib.h>

#include "constants/build_constants.hpp"
#include "constants/image_descriptor.hpp"
#include "paths/path_capacity.hpp"
#include "paths/path_text.hpp"
#include "payload/current_entry.hpp"
#include "payload/stamp_name.hpp"
#include "payload/tree_file_path.hpp"
#include "payload/tree_stamp.hpp"

namespace {

// One stamp entry as parsed: where its name lies in the stamp's bytes.
struct StampEntry {
    const wchar_t* name;
    uint32_t name_units;
    // Units before the last backslash: the entry's directory, 0 for the tree's root.
    uint32_t directory_units;
    uint64_t size;
    uint64_t time;
    bool seen;
};

// Tables for the check, in one allocation sized from the stamp: the entries, an open-
// addressing table of them by name and one of their directories (slots hold index + 1).
struct StampTables {
    StampEntry* entries;
    uint32_t count;
    uint32_t* by_name;
    uint32_t* directories;
    uint32_t slots; // a power of two, at least twice the count
    uint32_t directory_count;
    uint32_t* directory_list; // entry index of one entry per directory
};

wchar_t listing_pattern[path_capacity];
// The child the stamp names: the directory and the first entry's name.
wchar_t stamped_child_path[path_capacity];
wchar_t found_name[entry_name_capacity + MAX_PATH + 1];

uint32_t get_u32(const unsigned char* bytes) {
    uint32_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
}

uint64_t get_u64(const unsigned char* bytes) {
    uint64_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
}

// Names are compared as the file system would find them: ASCII letters in either case.
// Letters beyond ASCII must match exactly; a file whose name differs there only in case
// fails the check and takes the full road, never the wrong file.
uint32_t name_hash(const wchar_t* name, uint32_t units) {
    uint32_t hash = 2166136261u;
    for (uint32_t at = 0; at < units; ++at) {
        hash = (hash ^ ascii_upper(name[at])) * 16777619u;
    }
    return hash;
}

bool same_name(const wchar_t* left, const wchar_t* right, uint32_t units) {
    for (uint32_t at = 0; at < units; ++at) {
        if (ascii_upper(left[at]) != ascii_upper(right[at])) {
            return false;
        }
    }
    return true;
}

// The slot of name in table (keyed by name or by directory), or of the free slot where it
// would go.
uint32_t find_slot(const StampTables& tables, const uint32_t* table, const wchar_t* name, uint32_t units,
                   bool by_directory) {
    uint32_t slot = name_hash(name, units) & (tables.slots - 1);
    for (;;) {
        uint32_t held = table[slot];
        if (held == 0) {
            return slot;
        }
        const StampEntry& entry = tables.entries[held - 1];
        uint32_t held_units = by_directory ? entry.directory_units : entry.name_units;
        if (held_units == units && same_name(entry.name, name, units)) {
            return slot;
        }
        slot = (slot + 1) & (tables.slots - 1);
    }
}

// Whether the stamp names this image's company and product: the two lengths, then the
// names, right after the fixed header. Where the records begin goes to *records_at.
bool names_this_product(const unsigned char* bytes, size_t body, size_t* records_at) {
    const wchar_t* names[2] = {talvik_company_name(), talvik_product_name()};
    size_t at = tree_stamp_header_size;
    for (size_t which = 0; which < 2; ++which) {
        uint64_t stamped_size = uint64_t{get_u32(bytes + 24 + 4 * which)} * sizeof(wchar_t);
        size_t name_size = bounded_length(names[which], tree_stamp_largest_name_units + 1) * sizeof(wchar_t);
        if (stamped_size != name_size || body - at < name_size ||
            memcmp(bytes + at, names[which], name_size) != 0) {
            return false;
        }
        at += name_size;
    }
    *records_at = at;
    return true;
}

// Checks the frame of the stamp (size, checksum, magic, version, company and product) and
// returns its entry count, 0 when it does not parse or names another product; the identity
// it names goes to *identity, where its records begin to *records_at.
uint32_t stamp_entry_count(const unsigned char* bytes, size_t length, uint64_t* identity,
                           size_t* records_at) {
    if (length < tree_stamp_header_size + tree_stamp_trailer_size) {
        return 0;
    }
    size_t body = length - tree_stamp_trailer_size;
    if (static_cast<uint32_t>(crc32(0, bytes, static_cast<uInt>(body))) != get_u32(bytes + body) ||
        memcmp(bytes, tree_stamp_magic, sizeof tree_stamp_magic) != 0 ||
        get_u32(bytes + 8) != tree_stamp_version || !names_this_product(bytes, body, records_at)) {
        return 0;
    }
    *identity = get_u64(bytes + 16);
    uint32_t count = get_u32(bytes + 12);
    // Each entry takes at least its fixed part and one unit of name.
    if (count > (body - *records_at) / (tree_stamp_record_fixed_size + sizeof(wchar_t))) {
        return 0;
    }
    return count;
}

// Lays out the tables in one allocation; false when it cannot be had.
bool make_tables(StampTables& tables, uint32_t count) {
    uint32_t slots = 2;
    while (slots < 2 * static_cast<uint64_t>(count)) {
        slots *= 2;
    }
    size_t size = count * sizeof(StampEntry) + 2 * slots * sizeof(uint32_t) + count * sizeof(uint32_t);
    unsigned char* memory =
        static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (memory == nullptr) {
        return false;
    }
    tables.entries = reinterpret_cast<StampEntry*>(memory);
    tables.by_name = reinterpret_cast<uint32_t*>(memory + count * sizeof(StampEntry));
    tables.directories = tables.by_name + slots;
    tables.directory_list = tables.directories + slots;
    tables.count = count;
    tables.slots = slots;
    tables.directory_count = 0;
    return true;
}

// Parses every record into the tables; false for a malformed one or a name given twice.
bool parse_entries(StampTables& tables, const unsigned char* bytes, size_t length, size_t at) {
    size_t end = length - tree_stamp_trailer_size;
    for (uint32_t index = 0; index < tables.count; ++index) {
        if (end - at < tree_stamp_record_fixed_size) {
            return false;
        }
        StampEntry& entry = tables.entries[index];
        StampRecord record = stamp_record_at(bytes + at);
        entry.size = record.size;
        entry.time = record.time;
        entry.name_units = record.name_units;
        at += tree_stamp_record_fixed_size;
        if (entry.name_units == 0 || entry.name_units >= entry_name_capacity ||
            (end - at) / sizeof(wchar_t) < entry.name_units) {
            return false;
        }
        entry.name = record.name;
        at += entry.name_units * sizeof(wchar_t);
        entry.directory_units = 0;
        for (uint32_t unit = entry.name_units; unit > 0; --unit) {
            if (entry.name[unit - 1] == L'\\') {
                entry.directory_units = unit - 1;
                break;
            }
        }
        entry.seen = false;
        uint32_t slot = find_slot(tables, tables.by_name, entry.name, entry.name_units, false);
        if (tables.by_name[slot] != 0) {
            return false;
        }
        tables.by_name[slot] = index + 1;
        slot = find_slot(tables, tables.directories, entry.name, entry.directory_units, true);
        if (tables.directories[slot] == 0) {
            tables.directories[slot] = index + 1;
            tables.directory_list[tables.directory_count++] = index;
        }
    }
    return at == end;
}

// Lists one directory of the tree and checks every stamped file in it; the number of
// entries it found matching, or -1 at the first difference.
long check_directory(const wchar_t* directory, StampTables& tables, const StampEntry& sample) {
    // The listed directory, joined once more with "*".
    if (sample.directory_units == 0) {
        if (!join_path(listing_pattern, path_capacity, directory, L"*", 1)) {
            return -1;
        }
    } else if (!join_path(listing_pattern, path_capacity - 2, directory, sample.name,
                          sample.directory_units) ||
               !join_path(listing_pattern, path_capacity, listing_pattern, L"*", 1)) {
        return -1;
    }

    WIN32_FIND_DATAW found;
    HANDLE listing = FindFirstFileExW(listing_pattern, FindExInfoBasic, &found, FindExSearchNameMatch,
                                      nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (listing == INVALID_HANDLE_VALUE) {
        return -1;
    }
    long matched = 0;
    size_t prefix = sample.directory_units > 0 ? sample.directory_units + 1 : 0;
    memcpy(found_name, sample.name, prefix * sizeof(wchar_t));
    if (prefix > 0) {
        found_name[prefix - 1] = L'\\';
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        size_t leaf = wcslen(found.cFileName);
        if (prefix + leaf >= entry_name_capacity) {
            continue; // no entry has so long a name: a file of the user's
        }
        memcpy(found_name + prefix, found.cFileName, leaf * sizeof(wchar_t));
        uint32_t units = static_cast<uint32_t>(prefix + leaf);
        uint32_t held = tables.by_name[find_slot(tables, tables.by_name, found_name, units, false)];
        if (held == 0) {
            continue; // a file the user added: ignored, as the CRC-32 check ignores it
        }
        StampEntry& entry = tables.entries[held - 1];
        uint64_t size = uint64_t{found.nFileSizeHigh} << 32 | found.nFileSizeLow;
        uint64_t time =
            uint64_t{found.ftLastWriteTime.dwHighDateTime} << 32 | found.ftLastWriteTime.dwLowDateTime;
        // Seen twice: two names that differ only in case on a file system that keeps both.
        if (entry.seen || entry.size != size || entry.time != time) {
            matched = -1;
            break;
        }
        entry.seen = true;
        ++matched;
    } while (FindNextFileW(listing, &found));
    FindClose(listing);
    return matched;
}

bool tree_matches_tables(const wchar_t* directory, StampTables& tables) {
    uint64_t matched = 0;
    for (uint32_t index = 0; index < tables.directory_count; ++index) {
        long in_directory = check_directory(directory, tables, tables.entries[tables.directory_list[index]]);
        if (in_directory < 0) {
            return false;
        }
        matched += static_cast<uint64_t>(in_directory);
    }
    return matched == tables.count;
}

} // namespace

StampRecord stamp_record_at(const unsigned char* record) {
    // Records start at even offsets (every field and unit is a whole number of units long,
    // after a header of 32 bytes), so the name can be read in place.
    return {get_u64(record), get_u64(record + 8), get_u32(record + 16),
            reinterpret_cast<const wchar_t*>(record + tree_stamp_record_fixed_size)};
}

unsigned char* read_stamp(const wchar_t* directory, size_t* length) {
    wchar_t path[path_capacity];
    make_tree_file_path(path, path_capacity, directory, tree_stamp_name);
    // Full sharing: a writer's removal of the stamp must never fail because of this read.
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    unsigned char* bytes = nullptr;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
        static_cast<uint64_t>(size.QuadPart) <= tree_stamp_largest_size) {
        *length = static_cast<size_t>(size.QuadPart);
        bytes = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, *length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD read = 0;
        if (bytes != nullptr &&
            (!ReadFile(file, bytes, static_cast<DWORD>(*length), &read, nullptr) || read != *length)) {
            VirtualFree(bytes, 0, MEM_RELEASE);
            bytes = nullptr;
        }
    }
    CloseHandle(file);
    return bytes;
}

uint32_t product_stamp_entries(const unsigned char* bytes, size_t length, uint64_t* identity,
                               size_t* records_at) {
    uint32_t count = stamp_entry_count(bytes, length, identity, records_at);
    StampTables tables;
    if (count == 0 || !make_tables(tables, count)) {
        return 0;
    }
    bool parses = parse_entries(tables, bytes, length, *records_at);
    VirtualFree(tables.entries, 0, MEM_RELEASE);
    return parses ? count : 0;
}

bool tree_stamp_parses(const unsigned char* bytes, size_t length) {
    uint64_t identity = 0;
    size_t records_at = 0;
    return product_stamp_entries(bytes, length, &identity, &records_at) != 0 &&
           identity == talvik_attached_data_identity();
}

const wchar_t* tree_matches_stamp(const wchar_t* directory) {
    if (talvik_reuse_check() != reuse_check_metadata || talvik_attached_data_identity() == 0) {
        return nullptr;
    }
    size_t length = 0;
    unsigned char* bytes = read_stamp(directory, &length);
    if (bytes == nullptr) {
        return nullptr;
    }
    bool matches = false;
    uint64_t identity = 0;
    size_t records_at = 0;
    uint32_t count = stamp_entry_count(bytes, length, &identity, &records_at);
    StampTables tables;
    if (count > 0 && identity == talvik_attached_data_identity() && make_tables(tables, count)) {
        const StampEntry& first = tables.entries[0];
        matches = parse_entries(tables, bytes, length, records_at) &&
                  tree_matches_tables(directory, tables) &&
                  join_path(stamped_child_path, path_capacity, directory, first.name, first.name_units);
        VirtualFree(tables.entries, 0, MEM_RELEASE);
    }
    VirtualFree(bytes, 0, MEM_RELEASE);
    return matches ? stamped_child_path : nullptr;
}
