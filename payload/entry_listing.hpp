#pragma once

// Reader of the attached data on the host, the counterpart of producer.hpp: checks the
// block's header and trailer and decodes its frame entry by entry, checking each body
// against its stored checksum.

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

// Throws std::runtime_error when the block or the entry stream is malformed. The decoder
// keeps zstd's default window limit of 2^27, as the launcher does, so a listing refuses
// what a launcher would refuse.
void list_attached_data(std::span<const unsigned char> block, const ListedEntryHandler& on_entry);
