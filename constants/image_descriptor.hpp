#pragma once

#include <stddef.h>
#include <stdint.h>

// The fixed record through which a launcher image finds its build constants. The bare stub
// carries it with every field after the marker 0; talvik pack fills it in the copy of the
// stub that becomes an image. Locations are relative to the image base (RVAs), so they hold
// wherever the image is loaded. Integers are little-endian; fields are only ever added at
// the end, and descriptor_size says how many bytes of them an image's writer filled in.

// The marker appears once in a stub's .rdata, at a 16-byte boundary.
constexpr unsigned char image_descriptor_marker[16] = {'T', 'A', 'L', 'V', 'I', 'K', '-', 'I',
                                                       'M', 'A', 'G', 'E', '-', 'D', 'S', 'C'};
constexpr size_t image_descriptor_alignment = 16;

struct alignas(image_descriptor_alignment) ImageDescriptor {
    unsigned char marker[sizeof image_descriptor_marker];
    uint32_t descriptor_size;
    uint32_t path_template; // UTF-16, NUL-terminated, like the three texts after it
    uint32_t company_name;
    uint32_t product_name;
    uint32_t version_string;
    uint32_t attached_data;
    uint64_t attached_data_length;
    // A hash of the attached data, computed by talvik pack: equal for equal attached data.
    uint64_t attached_data_identity;
    // How a start decides that the unpacked tree is intact: one of the reuse_check_ values.
    uint32_t reuse_check;
    // What a start does with the unused trees of the product's other images: old_trees_ values.
    uint32_t old_trees;
    // The decoded length of the entry stream, which a progress bar measures against; 0 when
    // the writer did not know it.
    uint64_t entry_stream_length;
    // Whether the child is ended when the launcher ends: one of the child_ values.
    uint32_t child_lifetime;
    // Whether a windowed image shows a progress window during a slow start: progress_ values.
    uint32_t progress_window;
};

// Every file's CRC-32, at every start; also what an image without the field means.
constexpr uint32_t reuse_check_crc = 0;
// A stamp of sizes and last-write times, written after a complete start, stands for the
// checksums while the tree still matches it.
constexpr uint32_t reuse_check_metadata = 1;

// Other trees of the product are left where they are; also what an image without the field
// means.
constexpr uint32_t old_trees_keep = 0;
// A start removes the trees of the product's other images that no launcher uses.
constexpr uint32_t old_trees_remove = 1;

// The child runs in a job that ends it when the launcher ends in any way.
constexpr uint32_t child_ends_with_launcher = 0;
// The child is left running when the launcher is killed.
constexpr uint32_t child_outlives_launcher = 1;

// A windowed image whose start is slow shows a progress window.
constexpr uint32_t progress_window_when_slow = 0;
constexpr uint32_t progress_window_off = 1;

// The descriptor as the first images carried it, without the identity; readers accept it.
constexpr size_t image_descriptor_first_size = 48;

// The bytes that this version's writer fills in; the rest, up to the alignment, stays zero
// and is room for fields to come.
constexpr size_t image_descriptor_filled_size = offsetof(ImageDescriptor, progress_window) + sizeof(uint32_t);

static_assert(sizeof(ImageDescriptor) == 80, "the descriptor ends in padding only to its alignment");
static_assert(offsetof(ImageDescriptor, attached_data_length) % 8 == 0, "64-bit fields are aligned");
static_assert(offsetof(ImageDescriptor, attached_data_identity) == image_descriptor_first_size,
              "the identity is the first field added");
static_assert(offsetof(ImageDescriptor, reuse_check) == 56, "the reuse check follows the identity");
static_assert(offsetof(ImageDescriptor, old_trees) == 60 &&
                  offsetof(ImageDescriptor, entry_stream_length) == 64 &&
                  offsetof(ImageDescriptor, child_lifetime) == 72 &&
                  offsetof(ImageDescriptor, progress_window) == 76,
              "fields are only added at the end");
