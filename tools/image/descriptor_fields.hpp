#pragma once

#include "constants/image_descriptor.hpp"
#include "resources/byte_writer.hpp"
#include "tools/image/pe_file.hpp"

#include <cstdint>
#include <span>
#include <string>

// The host's side of the image descriptor (constants/image_descriptor.hpp): the texts it
// points to, finding it in an image, filling it in and reading it back.

// What an image's launcher does beyond unpacking: the descriptor's settings, each one of the
// values in constants/image_descriptor.hpp. The defaults are what an image means whose
// writer left the field out.
struct LauncherSettings {
    std::uint32_t reuse_check = reuse_check_crc;
    std::uint32_t old_trees = old_trees_keep;
    std::uint32_t child_lifetime = child_ends_with_launcher;
    std::uint32_t progress_window = progress_window_when_slow;
    std::uint64_t entry_stream_length = 0; // 0: not known
};

struct BuildTexts {
    std::u16string path_template;
    std::u16string company_name;
    std::u16string product_name;
    std::u16string version_string;
};

// The four texts as UTF-16LE with their NULs, one after the other, and where each starts.
struct ConstantsBlock {
    Bytes bytes;
    std::uint32_t path_template = 0;
    std::uint32_t company_name = 0;
    std::uint32_t product_name = 0;
    std::uint32_t version_string = 0;
};
ConstantsBlock write_constants_block(const BuildTexts& texts);

// The descriptor's fields after the marker; RVAs relative to the image base.
struct DescriptorFields : LauncherSettings {
    std::uint32_t descriptor_size = 0;
    std::uint32_t path_template = 0;
    std::uint32_t company_name = 0;
    std::uint32_t product_name = 0;
    std::uint32_t version_string = 0;
    std::uint32_t attached_data = 0;
    std::uint64_t attached_data_length = 0;
    std::uint64_t attached_data_identity = 0; // 0 in images whose descriptor predates it
};

// The fields a writer puts in for a constants block at constants_rva and attached data at
// attached_data_rva.
DescriptorFields descriptor_fields(const ConstantsBlock& constants, std::uint32_t constants_rva,
                                   std::uint32_t attached_data_rva, std::uint64_t attached_data_length,
                                   std::uint64_t attached_data_identity, const LauncherSettings& settings);

// File offsets of every marker in the image's .rdata sections, at the descriptor's alignment.
std::vector<std::size_t> find_image_descriptors(std::span<const unsigned char> image, const PeImage& pe);

DescriptorFields read_descriptor(std::span<const unsigned char> image, std::size_t offset);
void write_descriptor(std::span<unsigned char> image, std::size_t offset, const DescriptorFields& fields);
