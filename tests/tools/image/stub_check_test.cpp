// The check of a launcher stub: the embedded one passes, and each fault is named.

#include "constants/image_descriptor.hpp"
#include "resources/byte_writer.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/image/embedded_stub.hpp"
#include "tools/image/pe_file.hpp"
#include "tools/image/stub_check.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

Bytes stub_copy() {
    std::span<const unsigned char> bytes = embedded_stub_bytes();
    return Bytes(bytes.begin(), bytes.end());
}

} // namespace

TEST(StubCheck, EmbeddedStubPasses) {
    CheckedStub stub = checked_embedded_stub();
    EXPECT_EQ(std::memcmp(stub.bytes.data() + stub.descriptor_offset, image_descriptor_marker, 16), 0);
    EXPECT_EQ(stub.descriptor_offset % image_descriptor_alignment, 0u);
    Bytes built = read_file(stub_image);
    EXPECT_TRUE(built == stub_copy()) << "talvik carries the stub of the Windows build";
}

TEST(StubCheck, FaultsAreNamed) {
    Bytes good = stub_copy();
    PeImage pe = parse_pe_image(good);
    std::size_t descriptor = checked_embedded_stub().descriptor_offset;
    std::size_t table_end = pe.section_table_offset + pe.sections.size() * section_header_size;
    const PeSection& rdata = *std::find_if(pe.sections.begin(), pe.sections.end(),
                                           [](const PeSection& section) { return section.name == ".rdata"; });
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        const char* message;
    };
    const Case cases[] = {
        {"no MZ", [](Bytes& b) { b[0] = 'X'; }, "not a PE image"},
        {"other machine", [&](Bytes& b) { patch_u16(b, pe.pe_offset + 4, 0x14c); }, "not a PE32+ image"},
        {"descriptor filled in", [&](Bytes& b) { b[descriptor + 20] = 1; }, "descriptor is not empty"},
        {"second marker",
         [&](Bytes& b) {
             // The last place the search looks at: a 16-byte boundary of .rdata with room for a
             // whole descriptor after it, over whatever constant data lies there.
             std::size_t spare = rdata.raw_pointer + (rdata.raw_size - sizeof(ImageDescriptor)) / 16 * 16;
             if (spare == descriptor) {
                 spare -= sizeof(ImageDescriptor);
             }
             std::memcpy(&b[spare], image_descriptor_marker, 16);
         },
         "exactly one image descriptor"},
        {"no marker", [&](Bytes& b) { b[descriptor] ^= 1; }, "exactly one image descriptor"},
        {"bytes after the last section", [](Bytes& b) { b.resize(b.size() + 512); }, "does not end with"},
        {"headers full",
         [&](Bytes& b) { patch_u32(b, pe.optional_offset + 60, static_cast<std::uint32_t>(table_end + 40)); },
         "no room for two more section headers"},
        {"resources already",
         [&](Bytes& b) { patch_u32(b, pe.optional_offset + 112 + resource_directory_index * 8 + 4, 16); },
         "already has resources"},
        {"section named .rsrc", [&](Bytes& b) { std::memcpy(&b[pe.section_table_offset], ".rsrc\0\0\0", 8); },
         "of a name talvik adds"},
        {"odd file alignment", [&](Bytes& b) { patch_u32(b, pe.optional_offset + 36, 0x300); }, "alignment"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = good;
        c.damage(damaged);
        EXPECT_NE(error_of([&] { check_stub(damaged); }).find(c.message), std::string::npos)
            << error_of([&] { check_stub(damaged); });
        EXPECT_NE(stub_checksum(damaged), stub_checksum(good)) << "and the recorded checksum would catch it";
    }
}
