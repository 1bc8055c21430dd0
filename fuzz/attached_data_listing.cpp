// talvik's reading of attached data (payload/entry_listing.cpp), which talvik list and
// pack --attached-data run over blocks that anyone may have made: each is listed or
// refused with std::runtime_error, holding one window and one name at a time.

#include <cstdint>
#include <span>
#include <stdexcept>

#include "payload/entry_listing.hpp"
#include "payload/entry_name_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        list_attached_data(std::span<const unsigned char>(data, size), [](const ListedEntry& entry) {
            // What is handed over is what a launcher takes.
            if (!entry_name_stays_in_tree(entry.name.data(), entry.name.size())) {
                __builtin_trap();
            }
        });
    } catch (const std::runtime_error&) {
    }
    return 0;
}
