// The layout of an image around the stub: the limits follow the page arithmetic.

#include "tests/tools/test_support.hpp"
#include "tools/image/embedded_stub.hpp"
#include "tools/image/pe_layout.hpp"
#include "tools/image/stub_check.hpp"

#include <gtest/gtest.h>

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
