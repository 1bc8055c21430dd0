// The image writer in-process: the layout's limits, the stub's own check, the refusal of
// attached data that passes the limit while it streams, the descriptor read back, and the
// output file's copies.

#include "constants/image_descriptor.hpp"
#include "payload/entry_listing.hpp"
#include "payload/producer.hpp"
#include "resources/byte_writer.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/host/tool_messages.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/image/attached_data_identity.hpp"
#include "tools/image/constants_reader.hpp"
#include "tools/image/descriptor_fields.hpp"
#include "tools/image/embedded_stub.hpp"
#include "tools/image/image_file.hpp"
#include "tools/image/image_writer.hpp"
#include "tools/image/pe_layout.hpp"
#include "tools/list/list_command.hpp"
#include "tools/pack/pending_output.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

Bytes stub_copy() {
    std::span<const unsigned char> bytes = embedded_stub_bytes();
    return Bytes(bytes.begin(), bytes.end());
}

std::vector<ResourceEntry> some_resources() {
    return {{3, 1, Bytes(700, 1)}, {24, 1, Bytes(300, 2)}};
}

} // namespace

TEST(ImageLayout, LimitsFollowThePageArithmetic) {
    CheckedStub stub = checked_embedded_stub();
    EXPECT_EQ(attached_data_file_offset(stub.pe) % file_page_size, 0u);
    EXPECT_GE(attached_data_file_offset(stub.pe), stub.bytes.size());
    EXPECT_LT(attached_data_file_offset(stub.pe), stub.bytes.size() + file_page_size);
    EXPECT_EQ(attached_data_rva(stub.pe) % file_page_size, 0u);
    EXPECT_GE(attached_data_rva(stub.pe), stub.pe.size_of_image);

    for (std::size_t constants : {8u, 100u, 4096u}) {
        for (std::size_t resources : {0u, 1u, 4096u, 10000u}) {
            SCOPED_TRACE(std::to_string(constants) + " bytes of constants, " + std::to_string(resources) +
                         " of resources");
            std::uint64_t most = max_attached_data_length(stub.pe, constants, resources);
            EXPECT_GT(most, (std::uint64_t{2} << 30) - (std::uint64_t{1} << 20)) << "about 2 GiB";
            ImageLayout layout = lay_out_image(stub.pe, most, constants, resources);
            EXPECT_LE(layout.size_of_image, max_image_size);
            EXPECT_GT(std::uint64_t{layout.size_of_image} + 8 + file_page_size, max_image_size)
                << "nothing much left";
            EXPECT_LE(layout.file_size, UINT32_MAX);
            EXPECT_NE(error_of([&] {
                          lay_out_image(stub.pe, most + 1, constants, resources);
                      }).find("too large for a launcher image"),
                      std::string::npos);
        }
    }

    ImageLayout small = lay_out_image(stub.pe, 13, 40, 300);
    EXPECT_EQ(small.data.raw_pointer, attached_data_file_offset(stub.pe));
    EXPECT_EQ(small.constants_rva, small.data.virtual_address + 16) << "8-byte aligned after the data";
    EXPECT_EQ(small.data.virtual_size, 56u);
    EXPECT_EQ(small.data.raw_size, 512u);
    EXPECT_EQ(small.resources.raw_pointer, small.data.raw_pointer + 512);
    EXPECT_EQ(small.resources.virtual_address, small.data.virtual_address + file_page_size);
    EXPECT_EQ(small.size_of_image, small.resources.virtual_address + file_page_size);
    EXPECT_EQ(small.file_size, small.resources.raw_pointer + 512u);
}

TEST(StubCheck, EmbeddedStubPasses) {
    CheckedStub stub = checked_embedded_stub();
    EXPECT_EQ(std::memcmp(stub.bytes.data() + stub.descriptor_offset, image_descriptor_marker, 16), 0);
    EXPECT_EQ(stub.descriptor_offset % image_descriptor_alignment, 0u);
    Bytes built = read_file(fs::path(TALVIK_WIN_BUILD_DIR) / "talvik-stub.exe");
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

namespace {

class WrittenImage : public ::testing::Test {
  protected:
    ImagePlan plan_for(const BuildTexts& texts) { return plan_image(stub, texts, some_resources()); }
    CheckedStub stub = checked_embedded_stub();
    ScratchFolder scratch;
};

} // namespace

TEST_F(WrittenImage, ConstantsReadBackThroughTheDescriptor) {
    BuildTexts texts{u"{CACHE_DIR}\\Zürich\\Ωmega", u"Zürich Ωmega 😀", u"Orrin */ \\ \"x\"",
                     std::u16string(40, u'9')};
    ImagePlan plan = plan_for(texts);
    Bytes attached = {'K', 'A', 'Y', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ImageLayout layout = write_image(plan, scratch / "image.exe", [&](const AttachedDataSink& sink) {
        sink(attached.data(), 5);
        sink(attached.data() + 5, attached.size() - 5);
    });
    Bytes image = read_file(scratch / "image.exe");
    EXPECT_EQ(image.size(), layout.file_size);
    ImageConstants constants = read_image_constants(image);
    EXPECT_EQ(constants.path_template, texts.path_template);
    EXPECT_EQ(constants.company_name, texts.company_name);
    EXPECT_EQ(constants.product_name, texts.product_name);
    EXPECT_EQ(constants.version_string, texts.version_string);
    EXPECT_EQ(constants.attached_data, attached);

    // The company name as the launcher reads it: UTF-16LE code units, a surrogate pair, NUL.
    DescriptorFields fields = read_descriptor(image, stub.descriptor_offset);
    EXPECT_EQ(fields.descriptor_size, image_descriptor_filled_size);
    EXPECT_EQ(fields.attached_data, layout.data.virtual_address);
    EXPECT_EQ(fields.attached_data_length, attached.size());
    std::span<const unsigned char> company = pe_bytes_from(image, parse_pe_image(image), fields.company_name);
    const std::vector<unsigned> units = {90,  252, 114, 105, 99, 104,    32,     937,
                                         109, 101, 103, 97,  32, 0xD83D, 0xDE00, 0};
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(get_u16(company.data() + 2 * i), units[i]) << i;
    }
}

TEST_F(WrittenImage, IdentityFollowsTheAttachedDataHoweverItArrives) {
    ImagePlan plan = plan_for({u".", u"c", u"p", u"1.0.0.0"});
    Bytes attached(3 << 20, 0);
    std::mt19937 random(7);
    for (unsigned char& byte : attached) {
        byte = static_cast<unsigned char>(random());
    }
    {
        std::ofstream file(scratch / "attached.bin", std::ios::binary);
        file.write(reinterpret_cast<const char*>(attached.data()),
                   static_cast<std::streamsize>(attached.size()));
    }
    ImageLayout streamed = write_image(plan, scratch / "streamed.exe", [&](const AttachedDataSink& sink) {
        sink(attached.data(), 1000);
        sink(attached.data() + 1000, attached.size() - 1000);
    });
    ImageLayout copied = write_image(plan, scratch / "copied.exe", scratch / "attached.bin");
    EXPECT_EQ(streamed.attached_data_identity, copied.attached_data_identity);
    EXPECT_EQ(read_image_constants(read_file(scratch / "copied.exe")).attached_data_identity,
              copied.attached_data_identity);

    attached.back() ^= 1;
    ImageLayout changed = write_image(plan, scratch / "changed.exe", [&](const AttachedDataSink& sink) {
        sink(attached.data(), attached.size());
    });
    EXPECT_NE(changed.attached_data_identity, streamed.attached_data_identity);
    EXPECT_EQ(identity_text(0x0123456789abcdefu), "0123456789abcdef");
}

TEST_F(WrittenImage, ImagesFromBeforeTheIdentityStillRead) {
    ImagePlan plan = plan_for({u".", u"c", u"p", u"1.0.0.0"});
    Bytes attached = {'K', 'A', 'Y', 1, 2, 3};
    write_image(plan, scratch / "image.exe", [&](const AttachedDataSink& sink) { sink(attached.data(), 6); });
    Bytes image = read_file(scratch / "image.exe");
    // What an earlier talvik wrote: the first 48 bytes filled in, nothing after them.
    patch_u32(image, stub.descriptor_offset + offsetof(ImageDescriptor, descriptor_size),
              image_descriptor_first_size);
    patch_u64(image, stub.descriptor_offset + offsetof(ImageDescriptor, attached_data_identity), 0);
    ImageConstants constants = read_image_constants(image);
    EXPECT_EQ(constants.attached_data, attached);
    EXPECT_EQ(constants.attached_data_identity, 0u);
}

TEST_F(WrittenImage, AttachedDataPassingTheLimitIsRefusedAsItStreams) {
    ImagePlan plan = plan_for({u".", u"c", u"p", u"1.0.0.0"});
    // The real limit is 2 GiB; a plan with a small one makes the same check reachable.
    plan.max_attached_data_length = 100000;
    EXPECT_NE(error_of([&] { check_attached_data_fits(plan, 100001); }).find("too large"), std::string::npos);
    EXPECT_EQ(error_of([&] { check_attached_data_fits(plan, 100000); }), "(no error)");

    std::string noise(300000, '\0');
    std::mt19937 random(7);
    for (char& byte : noise) {
        byte = static_cast<char>(random());
    }
    std::uint64_t produced = 0;
    {
        PendingOutput output(scratch / "image.exe");
        EXPECT_NE(error_of([&] {
                      write_image(plan, output.temporary_path(), [&](const AttachedDataSink& sink) {
                          CompressionSettings settings;
                          settings.level = 1;
                          write_attached_data({{u"noise.bin", {}, noise}}, settings,
                                              [&](const unsigned char* data, std::size_t length) {
                                                  sink(data, length);
                                                  produced += length;
                                              });
                      });
                  }).find("at most 100000 bytes fit"),
                  std::string::npos);
    }
    EXPECT_LE(produced, 100000u) << "stopped the moment it passed";
    EXPECT_EQ(files_below(scratch.path()), std::vector<std::string>{}) << "no output file";
}

TEST(ImageFile, CopiesThroughTheKernelOrThroughMemory) {
    ScratchFolder scratch;
    std::string data(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 random(11);
    for (char& byte : data) {
        byte = static_cast<char>(random());
    }
    write_file(scratch / "block.bin", data);
    auto copy = [&](const fs::path& source, std::uint64_t most) {
        ImageFile file(scratch / "image.bin");
        file.write_zeros(100);
        std::uint64_t copied = file.copy_from(source, "the attached data", most);
        file.close();
        return copied;
    };
    auto copied_bytes = [&] {
        Bytes image = read_file(scratch / "image.bin");
        return std::string(image.begin() + 100, image.end());
    };

    EXPECT_EQ(copy(scratch / "block.bin", data.size()), data.size());
    EXPECT_TRUE(copied_bytes() == data);
    EXPECT_EQ(copy(scratch / "block.bin", 1000), 1001u) << "no more than one byte past the most";
    EXPECT_EQ(copied_bytes().size(), 1001u);

    // The kernel does not copy out of a pipe: the copy goes through memory.
    ASSERT_EQ(mkfifo((scratch / "pipe").c_str(), 0600), 0);
    std::thread writer([&] { write_file(scratch / "pipe", data); });
    std::uint64_t from_pipe = copy(scratch / "pipe", data.size());
    writer.join();
    EXPECT_EQ(from_pipe, data.size());
    EXPECT_TRUE(copied_bytes() == data);

    EXPECT_NE(error_of([&] { copy(scratch / "missing.bin", 10); }).find("cannot read the attached data"),
              std::string::npos);
}

TEST_F(WrittenImage, ConstantsCanNameTheIdentityOfWhatWasWritten) {
    auto texts = [](std::uint64_t identity) {
        return BuildTexts{u"{CACHE_DIR}\\app\\" + utf8_to_utf16(identity_text(identity), "identity"), u"c",
                          u"p", u"1.0.0.0"};
    };
    ImagePlan plan = plan_image(stub, texts, some_resources());
    Bytes attached = {'K', 'A', 'Y', 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    write_file(scratch / "attached.bin", attached);
    ImageLayout streamed = write_image(plan, scratch / "streamed.exe", [&](const AttachedDataSink& sink) {
        sink(attached.data(), attached.size());
    });
    ImageLayout copied = write_image(plan, scratch / "copied.exe", scratch / "attached.bin");
    for (const char* name : {"streamed.exe", "copied.exe"}) {
        ImageConstants constants = read_image_constants(read_file(scratch / name));
        EXPECT_EQ(constants.path_template, texts(streamed.attached_data_identity).path_template) << name;
        EXPECT_NE(constants.path_template, texts(0).path_template) << name << ": not the planned one";
        EXPECT_EQ(constants.attached_data_identity, copied.attached_data_identity) << name;
    }

    // Texts whose size follows the identity could not be planned; the writer refuses them
    // rather than lay the image out wrongly.
    ImagePlan growing = plan_image(
        stub,
        [](std::uint64_t identity) {
            return BuildTexts{identity == 0 ? u"." : u"..", u"c", u"p", u"1"};
        },
        some_resources());
    EXPECT_NE(error_of([&] {
                  write_image(growing, scratch / "growing.exe",
                              [&](const AttachedDataSink& sink) { sink(attached.data(), attached.size()); });
              }).find("internal: the constants changed their size"),
              std::string::npos);
}
