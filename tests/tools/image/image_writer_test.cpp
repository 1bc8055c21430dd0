// The image writer in-process: the refusal of attached data that passes the limit while it
// streams, the descriptor and constants read back, and the attached data's identity.

#include "constants/image_descriptor.hpp"
#include "payload/producer.hpp"
#include "resources/byte_writer.hpp"
#include "resources/resource_entry.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/image/attached_data_identity.hpp"
#include "tools/image/constants_reader.hpp"
#include "tools/image/descriptor_fields.hpp"
#include "tools/image/embedded_stub.hpp"
#include "tools/image/image_writer.hpp"
#include "tools/image/pe_file.hpp"
#include "tools/image/pe_layout.hpp"
#include "tools/image/stub_check.hpp"
#include "tools/pack/pending_output.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>

namespace {

std::vector<ResourceEntry> some_resources() {
    return {{3, 1, Bytes(700, 1)}, {24, 1, Bytes(300, 2)}};
}

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
    // Cut out of an image given up for it, the same constants.
    ImageConstants from_moved = read_image_constants(Bytes(image));
    EXPECT_EQ(from_moved.attached_data, attached);
    EXPECT_EQ(from_moved.path_template, texts.path_template);
    EXPECT_EQ(from_moved.attached_data_identity, constants.attached_data_identity);

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
    ImageLayout streamed = write_image(plan, scratch / "streamed.exe", [&](const AttachedDataSink& sink) {
        sink(attached.data(), 1000);
        sink(attached.data() + 1000, attached.size() - 1000);
    });
    AttachedDataIdentity whole;
    whole.add(attached.data(), attached.size());
    EXPECT_EQ(streamed.attached_data_identity, whole.value()) << "whatever the pieces";
    EXPECT_EQ(read_image_constants(read_file(scratch / "streamed.exe")).attached_data_identity,
              streamed.attached_data_identity);

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

TEST_F(WrittenImage, ConstantsCanNameTheIdentityOfWhatWasWritten) {
    auto texts = [](std::uint64_t identity) {
        return BuildTexts{u"{CACHE_DIR}\\app\\" + utf8_to_utf16(identity_text(identity), "identity"), u"c",
                          u"p", u"1.0.0.0"};
    };
    ImagePlan plan = plan_image(stub, texts, some_resources());
    Bytes attached = {'K', 'A', 'Y', 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    ImageLayout streamed = write_image(plan, scratch / "streamed.exe", [&](const AttachedDataSink& sink) {
        sink(attached.data(), attached.size());
    });
    ImageConstants constants = read_image_constants(read_file(scratch / "streamed.exe"));
    EXPECT_EQ(constants.path_template, texts(streamed.attached_data_identity).path_template);
    EXPECT_NE(constants.path_template, texts(0).path_template) << "not the planned one";
    EXPECT_EQ(constants.attached_data_identity, streamed.attached_data_identity);

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
