#pragma once

#include "tools/image/pe_file.hpp"

#include <cstdint>
#include <span>

// How talvik makes an image from a copy of the stub: two sections appended after the stub's
// last one, ".talvik" (the attached data, then the constants) and ".rsrc" (the resources),
// both read-only initialised data.
constexpr char data_section_name[] = ".talvik";
constexpr char resource_section_name[] = ".rsrc";

// Wine maps an image section straight from the file only when the section starts on a page
// boundary of the file; otherwise it copies the section into private memory, and the
// attached data would count twice towards the launcher's memory. So .talvik, which begins
// with the attached data, starts on a page of the file.
constexpr std::uint32_t file_page_size = 4096;

// The largest SizeOfImage talvik writes. The PE format's sizes and offsets are 32 bits wide,
// so nothing of 4 GiB or more can be described at all. Microsoft's linker refuses images
// above 2 GiB (LNK1248, "image size exceeds maximum allowable size (80000000)"), so larger
// ones are untried ground for the Windows loader, which documents no limit of its own. Wine 8
// here loaded and ran images of every size tried up to 4 GiB less a page (SizeOfImage
// 0x10000000, 0x7FFFF000, 0x80056000, 0xC0000000, 0xFFFFF000), so Wine is not what binds. The
// limit is the largest page multiple below 2^31: within what the linker makes, and safe from
// any loader or tool that does signed 32-bit arithmetic on the size. It leaves about 2 GiB
// less the stub, the constants and the resources for the attached data.
constexpr std::uint32_t max_image_size = 0x7FFFF000;

// The largest file talvik reads as an image: the largest it writes, with room for the
// certificate table that a signing tool appends after the last section (a few KiB for a
// usual chain; 16 MiB leaves room for any).
constexpr std::uint64_t max_image_file_size = std::uint64_t{max_image_size} + (std::uint64_t{16} << 20);

struct SectionPlace {
    std::uint32_t raw_pointer = 0;
    std::uint32_t raw_size = 0;
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
};

struct ImageLayout {
    SectionPlace data;      // .talvik
    SectionPlace resources; // .rsrc
    std::uint64_t attached_data_length = 0;
    std::uint64_t attached_data_identity = 0;
    std::uint32_t constants_rva = 0; // in .talvik, after the attached data
    std::uint32_t size_of_image = 0;
    std::uint64_t file_size = 0;
};

// Where the attached data goes: the start of .talvik, known from the stub alone.
std::uint32_t attached_data_file_offset(const PeImage& stub);
std::uint32_t attached_data_rva(const PeImage& stub);

// The largest attached data for which an image with constants and resources of these sizes
// stays within max_image_size.
std::uint64_t max_attached_data_length(const PeImage& stub, std::size_t constants_size,
                                       std::size_t resources_size);

// Places both sections; throws ToolError when the image would pass max_image_size.
ImageLayout lay_out_image(const PeImage& stub, std::uint64_t attached_data_length, std::size_t constants_size,
                          std::size_t resources_size);

// Rewrites the headers in a copy of the stub for the layout: the two section headers after
// the stub's, NumberOfSections, SizeOfImage, SizeOfInitializedData, the resource directory,
// and the header checksum 0 (images are not signed by talvik; a signing tool sets its own).
void rewrite_headers(std::span<unsigned char> image_start, const PeImage& stub, const ImageLayout& layout);

// Sets the Subsystem field, the one header field in which a windowed image differs from a
// console one (nothing else depends on it: the header checksum stays 0).
void set_subsystem(std::span<unsigned char> image_start, const PeImage& stub, std::uint16_t subsystem);
