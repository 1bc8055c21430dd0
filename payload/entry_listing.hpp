#pragma once

// Reader of the attached data on the host, the counterpart of producer.hpp: checks the
// block's header and trailer and decodes its frame entry by entry, checking each body
// against its stored checksum and each name against the launcher's rules. It holds one
// decode window and one name at a time, whatever the block declares, so that a block made
// to expand without end costs time (reported through the progress callback) but never
// memory.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

struct ListedEntry {
    std::u16string name;
    std::uint64_t size = 0;
    std::uint32_t checksum = 0; // as stored
    bool checksum_matches = false;
};

// Called once per entry, in stream order, after its body has been checked.
using ListedEntryHandler = std::function<void(const ListedEntry& entry)>;

// Called as the frame decodes, after each window: entries listed so far and bytes decoded.
using DecodeProgress = std::function<void(std::uint64_t entries_done, std::uint64_t decoded_bytes)>;

// What the whole stream held.
struct ListedStream {
    std::uint64_t entries = 0;
    std::uint64_t body_bytes = 0;
    std::uint64_t stream_length = 0; // decoded bytes, end marker included
    std::uint64_t mismatches = 0;    // entries whose body does not match its checksum
};

// Throws std::runtime_error when the block or the entry stream is malformed, or a name is
// one the launcher refuses (longer than max_entry_name_units, or leading out of the target
// directory: entry_name_check.hpp). The decoder keeps zstd's default window limit of 2^27,
// as the launcher does, so a listing refuses what a launcher would refuse.
ListedStream list_attached_data(std::span<const unsigned char> block, const ListedEntryHandler& on_entry,
                                const DecodeProgress& progress = {});
