// The generated build constants: UTF-16 arrays, the .incbin path, the length from
// labels, and the index that `talvik list` reads back.

#include "resources/byte_writer.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/constants_writer.hpp"
#include "tools/image_list.hpp"
#include "tools/process_runner.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace fs = std::filesystem;

namespace {

// The .short values that follow "symbol:" in the generated source.
std::vector<unsigned> shorts_of(const std::string& source, const std::string& symbol) {
    std::vector<unsigned> values;
    std::istringstream lines(source);
    std::string line;
    bool inside = false;
    while (std::getline(lines, line)) {
        if (line == symbol + ":") {
            inside = true;
            continue;
        }
        if (!inside)
            continue;
        const std::string directive = "    .short ";
        if (line.rfind(directive, 0) != 0)
            break;
        std::istringstream numbers(line.substr(directive.size()));
        std::string number;
        while (std::getline(numbers, number, ','))
            values.push_back(static_cast<unsigned>(std::stoul(number)));
    }
    return values;
}

std::vector<unsigned> units_with_nul(std::u16string_view text) {
    std::vector<unsigned> units(text.begin(), text.end());
    units.push_back(0);
    return units;
}

BuildConstants sample_constants(const fs::path& attached) {
    return {u"{CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20", u"Zürich Ωmega 😀", u"Orrin Deck */ \\ \"x\"",
            std::u16string(40, u'9'), attached};
}

// The raw data of a section of a COFF object file.
Bytes coff_section(const Bytes& object, const std::string& name) {
    std::uint16_t count = get_u16(&object.at(2));
    std::size_t table = 20 + get_u16(&object.at(16));
    for (std::uint16_t i = 0; i < count; ++i) {
        const unsigned char* header = &object.at(table + i * 40);
        if (std::string(reinterpret_cast<const char*>(header),
                        strnlen(reinterpret_cast<const char*>(header), 8)) == name) {
            std::uint32_t size = get_u32(header + 16), pointer = get_u32(header + 20);
            return Bytes(object.begin() + pointer, object.begin() + pointer + size);
        }
    }
    return {};
}

} // namespace

TEST(ConstantsWriter, TextsAsUtf16Arrays) {
    BuildConstants constants = sample_constants("/tmp/attached.bin");
    std::string source = write_constants_assembly(constants);
    EXPECT_EQ(shorts_of(source, "talvik_path_template"), units_with_nul(constants.path_template));
    EXPECT_EQ(shorts_of(source, "talvik_company_name"),
              (std::vector<unsigned>{90, 252, 114, 105, 99, 104, 32, 937, 109, 101, 103, 97, 32, 0xD83D,
                                     0xDE00, 0}));
    EXPECT_EQ(shorts_of(source, "talvik_product_name"), units_with_nul(constants.product_name));
    EXPECT_EQ(shorts_of(source, "talvik_version_string"), units_with_nul(constants.version_string));
    for (const char* symbol :
         {"talvik_path_template", "talvik_company_name", "talvik_product_name", "talvik_version_string",
          "talvik_attached_data", "talvik_attached_data_length"})
        EXPECT_NE(source.find(std::string(".globl ") + symbol + "\n"), std::string::npos) << symbol;
    EXPECT_NE(source.find("    .section .rdata,\"dr\"\n"), std::string::npos);
    EXPECT_NE(
        source.find("talvik_attached_data:\n    .incbin \"/tmp/attached.bin\"\ntalvik_attached_data_end:\n"),
        std::string::npos);
    EXPECT_NE(
        source.find(
            "talvik_attached_data_length:\n    .quad talvik_attached_data_end - talvik_attached_data\n"),
        std::string::npos);
    // Comments cannot be closed early by a text.
    EXPECT_EQ(source.find("*/ /"), std::string::npos);
}

TEST(ConstantsWriter, IncbinPathEscapes) {
    EXPECT_EQ(assembler_string_literal("/tmp/a b/c.bin"), "\"/tmp/a b/c.bin\"");
    EXPECT_EQ(assembler_string_literal("/x/\"q\"\\y"), "\"/x/\\\"q\\\"\\\\y\"");
    EXPECT_EQ(assembler_string_literal("/\xC3\xBC\n"), "\"/\\303\\274\\012\"");
    EXPECT_THROW(write_constants_assembly(sample_constants("relative.bin")), std::runtime_error);
}

TEST(ConstantsWriter, AssembledIndexReadsBack) {
    const char* gcc = "x86_64-w64-mingw32-gcc";
    if (!program_exists(gcc))
        GTEST_SKIP() << gcc << " is not installed";
    ScratchFolder scratch;
    // A folder name that needs every kind of escape on its way through the preprocessor.
    fs::path odd = scratch / "odd \"dir\" \\ ü 'q' /* c */";
    fs::create_directories(odd);
    Bytes attached = {'K', 'A', 'Y', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    write_file(odd / "attached.bin", attached);
    BuildConstants constants = sample_constants(odd / "attached.bin");
    write_file(scratch / "constants.S", write_constants_assembly(constants));

    ProgramRun run =
        run_program({gcc, "-c", "constants.S", "-o", "constants.o"}, scratch.path(), scratch / "log");
    ASSERT_EQ(run.exit_status, 0) << run.output;
    EXPECT_EQ(run.output, "") << "no warnings";
    Bytes rdata = coff_section(read_file(scratch / "constants.o"), ".rdata");
    ASSERT_FALSE(rdata.empty());
    EXPECT_EQ(std::string(rdata.begin(), rdata.begin() + 16), "TALVIK-CONSTANTS");
    std::optional<ImageConstants> read = find_constants_in_section(rdata.data(), rdata.size());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->path_template, constants.path_template);
    EXPECT_EQ(read->company_name, constants.company_name);
    EXPECT_EQ(read->product_name, constants.product_name);
    EXPECT_EQ(read->version_string, constants.version_string);
    EXPECT_EQ(read->attached_data, attached) << "length from the labels equals the included file";
}
