// Whole images made by talvik pack from a tiny app folder and read back: the same bytes
// whatever the surroundings, headers, resources and descriptor fields, given options, the
// summary and warnings, and the defaults when no names are given.

#include "constants/image_descriptor.hpp"
#include "payload/producer.hpp"
#include "resources/byte_writer.hpp"
#include "resources/icon_group.hpp"
#include "resources/manifest.hpp"
#include "resources/png.hpp"
#include "resources/version_block.hpp"
#include "tests/resources/resource_reader.hpp"
#include "tests/tools/packed_image.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/host/tool_messages.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/image/attached_data_identity.hpp"
#include "tools/image/constants_reader.hpp"
#include "tools/image/descriptor_fields.hpp"
#include "tools/image/pe_file.hpp"
#include "tools/pack/image_metadata.hpp"
#include "tools/pack/pack_options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <map>

namespace fs = std::filesystem;

namespace {

// The resource directory of an image, down to its data.
std::vector<ResourceLeaf> read_resources(const Bytes& file, const PeImage& image) {
    const PeDataDirectory& directory = image.data_directories.at(resource_directory_index);
    return read_resource_section(pe_bytes_from(file, image, directory.virtual_address),
                                 directory.virtual_address);
}

} // namespace

TEST_F(PackedImage, SameInputsGiveTheSameBytes) {
    fs::create_directories(out / "second place");
    ToolResult first = pack(out / "first.exe");
    ToolResult second = pack(out / "second place/other name.exe");
    ASSERT_EQ(first.exit_status, 0) << first.err;
    ASSERT_EQ(second.exit_status, 0) << second.err;
    EXPECT_NE(first.err.find("talvik: packed 5 files"), std::string::npos) << first.err;
    Bytes image = read_file(out / "first.exe");
    EXPECT_EQ(image, read_file(out / "second place/other name.exe"));
    // Neither the work folder nor the output's name reach the image.
    std::string bytes(image.begin(), image.end());
    EXPECT_EQ(bytes.find(temp.path().string()), std::string::npos);
    EXPECT_EQ(bytes.find("first.exe"), std::string::npos);
    EXPECT_EQ(bytes.find(app.path().string()), std::string::npos);
    EXPECT_EQ(fs::status(out / "first.exe").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
}

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

} // namespace

// Nothing of the run's surroundings reaches the image: each case packs the same inputs
// with one thing changed, and must give the reference bytes.
TEST_F(PackedImage, SameBytesWhateverTheSurroundings) {
    ASSERT_EQ(pack(out / "reference.exe", {"-q"}).exit_status, 0);
    Bytes reference = read_file(out / "reference.exe");

    // The same files with other modification times, in another folder.
    fs::path moved = temp / "moved app";
    fs::copy(app.path(), moved, fs::copy_options::recursive);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(moved)) {
        fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    }
    fs::create_directories(temp / "elsewhere/deeper");
    fs::create_directories(temp / "other tmp");

    const std::string options = " --company 'Fernwick Studio' --product 'Orrin Deck' --version 1.20.0.0 -q";
    auto pack_of = [&](const fs::path& folder) { return "\"$TALVIK\" pack " + quoted(folder.string()); };
    struct Case {
        const char* what;
        std::string script;
        fs::path image;
    };
    const fs::path elsewhere = temp / "elsewhere/deeper";
    const Case cases[] = {
        {"output path", pack_of(app.path()) + " -o " + quoted((out / "a b/c d.exe").string()) + options,
         out / "a b/c d.exe"},
        {"working folder, relative paths",
         "cd " + quoted(elsewhere.string()) + " && \"$TALVIK\" pack " +
             quoted(fs::relative(app.path(), elsewhere).string()) + " -o " +
             quoted(fs::relative(out / "relative.exe", elsewhere).string()) + options,
         out / "relative.exe"},
        {"TMPDIR",
         "TMPDIR=" + quoted((temp / "other tmp").string()) + " " + pack_of(app.path()) + " -o " +
             quoted((out / "tmpdir.exe").string()) + options,
         out / "tmpdir.exe"},
        {"umask",
         "umask 077 && " + pack_of(app.path()) + " -o " + quoted((out / "umask.exe").string()) + options,
         out / "umask.exe"},
        {"input mtimes and folder", pack_of(moved) + " -o " + quoted((out / "moved.exe").string()) + options,
         out / "moved.exe"},
        {"time of day, 2001",
         "faketime '2001-02-03 04:05:06' " + pack_of(app.path()) + " -o " +
             quoted((out / "2001.exe").string()) + options,
         out / "2001.exe"},
        {"time of day, 2037",
         "faketime '2037-12-31 23:59:58' " + pack_of(app.path()) + " -o " +
             quoted((out / "2037.exe").string()) + options,
         out / "2037.exe"},
        {"empty environment",
         "exec env -i \"$TALVIK\" pack " + quoted(app.path().string()) + " -o " +
             quoted((out / "bare-env.exe").string()) + options,
         out / "bare-env.exe"},
    };
    fs::create_directories(out / "a b");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ToolResult result = run_shell(c.script);
        ASSERT_EQ(result.exit_status, 0) << c.script << "\n" << result.err;
        EXPECT_TRUE(read_file(c.image) == reference);
    }
    EXPECT_EQ(fs::status(out / "umask.exe").permissions() & fs::perms::all, fs::perms::owner_all)
        << "only the file's mode follows the umask";
}

TEST_F(PackedImage, HeaderResourcesAndLayout) {
    ToolResult packed = pack(out / "image.exe", {"-q"});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    Bytes file = read_file(out / "image.exe");
    PeImage image = parse_pe_image(file);
    EXPECT_EQ(image.machine, 0x8664);
    EXPECT_EQ(image.optional_magic, pe32_plus_magic);
    EXPECT_EQ(image.subsystem, 3) << "console";
    EXPECT_EQ(image.checksum, 0u);
    EXPECT_EQ(image.stack_reserve, 0x968000u);
    EXPECT_EQ(image.stack_commit, 0x1000u);
    EXPECT_EQ(image.heap_reserve, 0x100000u);
    EXPECT_EQ(image.heap_commit, 0x1000u);
    ASSERT_FALSE(image.sections.empty());
    const PeSection& last = image.sections.back();
    EXPECT_EQ(file.size(), std::size_t{last.raw_pointer} + last.raw_size)
        << "nothing appended after the last section";

    // The stub's sections as they were, then the two that talvik adds.
    Bytes stub_bytes = read_file(stub_image);
    PeImage stub = parse_pe_image(stub_bytes);
    ASSERT_EQ(image.sections.size(), stub.sections.size() + 2);
    for (std::size_t i = 0; i < stub.sections.size(); ++i) {
        EXPECT_EQ(image.sections[i].name, stub.sections[i].name);
        EXPECT_EQ(image.sections[i].raw_pointer, stub.sections[i].raw_pointer);
        EXPECT_EQ(image.sections[i].virtual_address, stub.sections[i].virtual_address);
    }
    const PeSection& data = image.sections[stub.sections.size()];
    const PeSection& resources = image.sections.back();
    EXPECT_EQ(data.name, ".talvik");
    EXPECT_EQ(resources.name, ".rsrc");
    for (const PeSection* section : {&data, &resources}) {
        EXPECT_EQ(section->characteristics, 0x40000040u) << section->name << ": read-only initialised data";
        EXPECT_EQ(section->virtual_address % 4096, 0u) << section->name;
        EXPECT_EQ(section->raw_size % 512, 0u) << section->name;
        EXPECT_GE(section->raw_size, section->virtual_size) << section->name;
    }
    EXPECT_GE(data.virtual_address, stub.size_of_image);
    EXPECT_GE(resources.virtual_address, data.virtual_address + data.virtual_size);
    EXPECT_EQ(resources.raw_pointer, data.raw_pointer + data.raw_size);
    EXPECT_EQ(image.size_of_image, (resources.virtual_address + resources.virtual_size + 4095) / 4096 * 4096);
    EXPECT_EQ(image.size_of_initialized_data,
              stub.size_of_initialized_data + data.raw_size + resources.raw_size);
    EXPECT_EQ(image.data_directories.at(resource_directory_index).virtual_address, resources.virtual_address);
    EXPECT_EQ(image.data_directories.at(resource_directory_index).size, resources.virtual_size);
    // The attached data starts its section, on a page of the file, so that Wine maps it from
    // the file rather than copying it into the launcher's private memory.
    EXPECT_EQ(data.raw_pointer % 4096, 0u);
    ImageConstants constants = read_image_constants(file);
    ASSERT_GE(data.raw_size, constants.attached_data.size());
    EXPECT_TRUE(std::equal(constants.attached_data.begin(), constants.attached_data.end(),
                           file.begin() + data.raw_pointer));

    // Everything else of the stub is copied unchanged: only the header fields above, the new
    // section headers and the descriptor's fields differ.
    auto masked = [&](Bytes bytes) {
        bytes.resize(stub_bytes.size());
        std::size_t optional = stub.optional_offset;
        std::size_t table_end = stub.section_table_offset + stub.sections.size() * 40;
        std::size_t descriptor = std::string(stub_bytes.begin(), stub_bytes.end()).find("TALVIK-IMAGE-DSC");
        for (auto [from, count] : std::vector<std::pair<std::size_t, std::size_t>>{
                 {stub.pe_offset + 6, 2},
                 {optional + 8, 4},
                 {optional + 56, 4},
                 {optional + 64, 4},
                 {optional + 112 + 2 * 8, 8},
                 {table_end, 80},
                 {descriptor + 16, sizeof(ImageDescriptor) - 16}}) {
            std::fill_n(bytes.begin() + from, count, 0);
        }
        return bytes;
    };
    EXPECT_TRUE(masked(file) == masked(stub_bytes));
    EXPECT_TRUE(std::all_of(file.begin() + stub_bytes.size(), file.begin() + data.raw_pointer,
                            [](unsigned char byte) { return byte == 0; }))
        << "zeros up to the page the attached data starts on";

    PackOptions options;
    options.company = "Fernwick Studio";
    options.product = "Orrin Deck";
    options.version = "1.20.0.0";
    VersionTexts texts = resolve_image_metadata(options, "unused").version_texts;
    std::vector<Bytes> icons = default_icon_images();
    std::string manifest = launcher_manifest();

    std::map<std::pair<std::uint32_t, std::uint32_t>, Bytes> expected;
    for (std::uint32_t i = 0; i < 7; ++i) {
        expected[{3, i + 1}] = icons[i];
    }
    expected[{14, 1}] = write_group_icon_directory(icons);
    expected[{16, 1}] = write_version_block(texts);
    expected[{24, 1}] = Bytes(manifest.begin(), manifest.end());

    std::map<std::pair<std::uint32_t, std::uint32_t>, Bytes> found;
    for (const ResourceLeaf& leaf : read_resources(file, image)) {
        EXPECT_EQ(leaf.language, 0u) << leaf.type << "/" << leaf.id;
        found[{leaf.type, leaf.id}] = leaf.data;
    }
    EXPECT_EQ(found.size(), expected.size());
    for (const auto& [key, data] : expected) {
        EXPECT_EQ(found[key], data) << "type " << key.first << " id " << key.second;
    }
}

TEST_F(PackedImage, WindowedImageDiffersOnlyInItsSubsystem) {
    ASSERT_EQ(pack(out / "console.exe", {"-q"}).exit_status, 0);
    ToolResult windowed = pack(out / "windowed.exe", {"-q", "--windowed"});
    ASSERT_EQ(windowed.exit_status, 0) << windowed.err;
    Bytes console_bytes = read_file(out / "console.exe");
    Bytes windowed_bytes = read_file(out / "windowed.exe");
    PeImage console_image = parse_pe_image(console_bytes);
    EXPECT_EQ(console_image.subsystem, subsystem_windows_console);
    EXPECT_EQ(parse_pe_image(windowed_bytes).subsystem, subsystem_windows_gui);
    // Byte for byte the same but the two of the Subsystem field: the checksum, the one field
    // that could depend on it, stays 0.
    ASSERT_EQ(windowed_bytes.size(), console_bytes.size());
    std::size_t subsystem_field = console_image.optional_offset + 68;
    for (std::size_t at = 0; at < console_bytes.size(); ++at) {
        if (at != subsystem_field && at != subsystem_field + 1) {
            ASSERT_EQ(windowed_bytes[at], console_bytes[at]) << "at offset " << at;
        }
    }
    EXPECT_EQ(parse_pe_image(windowed_bytes).checksum, 0u);

    // The same around a ready block of attached data.
    ImageConstants constants = read_image_constants(console_bytes);
    write_file(out / "attached.bin", constants.attached_data);
    ASSERT_EQ(run_talvik_binary({"pack", "--attached-data", (out / "attached.bin").string(), "-o",
                                 (out / "rebuilt.exe").string(), "--company", "Fernwick Studio", "--product",
                                 "Orrin Deck", "--version", "1.20.0.0", "--windowed", "-q"})
                  .exit_status,
              0);
    EXPECT_EQ(read_file(out / "rebuilt.exe"), windowed_bytes);

    auto subsystem_line = [](const fs::path& image) {
        std::vector<std::string> lines = lines_of(run_talvik_binary({"list", image.string()}).out);
        return lines.size() > 4 ? lines[4] : "(no such line)";
    };
    EXPECT_EQ(subsystem_line(out / "console.exe"), "subsystem console");
    EXPECT_EQ(subsystem_line(out / "windowed.exe"), "subsystem windowed");
    // Only talvik's own two kinds are named; any other value shows as its number.
    Bytes native = console_bytes;
    native[subsystem_field] = 1;
    write_file(out / "native.exe", native);
    EXPECT_EQ(subsystem_line(out / "native.exe"), "subsystem other (1)");
}

TEST_F(PackedImage, ReuseCheckIsOneDescriptorFieldShownByList) {
    ASSERT_EQ(pack(out / "crc.exe", {"-q"}).exit_status, 0);
    ASSERT_EQ(pack(out / "metadata.exe", {"-q", "--reuse-check", "metadata"}).exit_status, 0);
    Bytes crc_bytes = read_file(out / "crc.exe");
    Bytes metadata_bytes = read_file(out / "metadata.exe");
    ASSERT_EQ(crc_bytes.size(), metadata_bytes.size());
    std::vector<std::size_t> differing;
    for (std::size_t at = 0; at < crc_bytes.size(); ++at) {
        if (crc_bytes[at] != metadata_bytes[at]) {
            differing.push_back(at);
        }
    }
    std::vector<std::size_t> descriptors = find_image_descriptors(crc_bytes, parse_pe_image(crc_bytes));
    ASSERT_EQ(descriptors.size(), 1u);
    EXPECT_EQ(differing, std::vector<std::size_t>{descriptors[0] + offsetof(ImageDescriptor, reuse_check)});
    EXPECT_EQ(read_descriptor(metadata_bytes, descriptors[0]).reuse_check, reuse_check_metadata);
    EXPECT_EQ(read_descriptor(metadata_bytes, descriptors[0]).descriptor_size, image_descriptor_filled_size);

    auto reuse_line = [](const fs::path& image) {
        std::vector<std::string> lines = lines_of(run_talvik_binary({"list", image.string()}).out);
        return lines.size() > 6 ? lines[6] : "(no such line)";
    };
    EXPECT_EQ(reuse_line(out / "crc.exe"), "reuse     crc");
    EXPECT_EQ(reuse_line(out / "metadata.exe"), "reuse     metadata");
    // A writer from before the field filled in 56 bytes: the field is not read, so crc.
    Bytes older = metadata_bytes;
    patch_u32(older, descriptors[0] + offsetof(ImageDescriptor, descriptor_size), 56);
    write_file(out / "older.exe", older);
    EXPECT_EQ(reuse_line(out / "older.exe"), "reuse     crc");
    Bytes unknown = crc_bytes;
    patch_u32(unknown, descriptors[0] + offsetof(ImageDescriptor, reuse_check), 7);
    write_file(out / "unknown.exe", unknown);
    EXPECT_EQ(reuse_line(out / "unknown.exe"), "reuse     other (7, taken as crc)");
}

TEST_F(PackedImage, AttachedDataTakenAsItIs) {
    ASSERT_EQ(pack(out / "original.exe", {"-q"}).exit_status, 0);
    ImageConstants constants = read_image_constants(read_file(out / "original.exe"));
    write_file(out / "attached.bin", constants.attached_data);

    ToolResult rebuilt = run_talvik_binary({"pack", "--attached-data", (out / "attached.bin").string(), "-o",
                                            (out / "rebuilt.exe").string(), "--company", "Fernwick Studio",
                                            "--product", "Orrin Deck", "--version", "1.20.0.0"});
    ASSERT_EQ(rebuilt.exit_status, 0) << rebuilt.err;
    EXPECT_NE(rebuilt.err.find("around " + std::to_string(constants.attached_data.size()) + " bytes"),
              std::string::npos);
    EXPECT_EQ(read_file(out / "rebuilt.exe"), read_file(out / "original.exe"));

    // The descriptor gets the stream's decoded length, found by decoding it.
    EXPECT_EQ(read_image_constants(read_file(out / "rebuilt.exe")).entry_stream_length,
              constants.entry_stream_length);

    // A block that no launcher could unpack is refused, with nothing written.
    write_file(out / "odd.bin", std::string("KAY"));
    expect_one_error_line(run_talvik_binary({"pack", "--attached-data", (out / "odd.bin").string(), "-o",
                                             (out / "odd.exe").string(), "-q"}),
                          "does not start with \"KAY\"");
    EXPECT_FALSE(fs::exists(out / "odd.exe"));
}

TEST_F(PackedImage, GivenIconsAndOptions) {
    std::vector<std::string> extra = {"--template",
                                      "{TEMP}\\{Product}-{VERSION}",
                                      "--copyright",
                                      "© Fernwick",
                                      "--exe",
                                      "Orrin Deck.exe",
                                      "--level",
                                      "3",
                                      "--window-log",
                                      "20",
                                      "-q"};
    std::vector<Bytes> icons;
    for (std::uint32_t size : icon_sizes) {
        Bytes pixels(std::size_t{size} * size * 4, static_cast<unsigned char>(size));
        icons.push_back(encode_png_rgba(size, size, pixels));
        fs::path file = out / ("icon" + std::to_string(size) + ".png");
        write_file(file, icons.back());
        extra.insert(extra.begin(), {"--icon", file.string()});
    }
    ToolResult packed = pack(out / "image.exe", extra);
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    Bytes file = read_file(out / "image.exe");
    std::map<std::pair<std::uint32_t, std::uint32_t>, Bytes> found;
    for (const ResourceLeaf& leaf : read_resources(file, parse_pe_image(file))) {
        found[{leaf.type, leaf.id}] = leaf.data;
    }
    for (std::uint32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(found[std::make_pair(3u, i + 1)], icons[i]) << icon_sizes[i];
    }
    EXPECT_EQ(found[std::make_pair(14u, 1u)], write_group_icon_directory(icons));
    ImageConstants constants = read_image_constants(file);
    EXPECT_EQ(constants.path_template, u"{TEMP}\\{Product}-{VERSION}");
    // The frame's window descriptor declares 2^20 (exponent 10 above the 2^10 base).
    ASSERT_GT(constants.attached_data.size(), 8u);
    EXPECT_EQ(constants.attached_data[3], 0x28);
    unsigned char descriptor = constants.attached_data[3 + 5];
    EXPECT_LE(descriptor >> 3, 10) << "window of at most 2^20";
}

TEST_F(PackedImage, LongPathsAreWarnedAbout) {
    // 43 units for {CACHE_DIR}, 4041 for the rest: names of 11 units still fit, "Z.txt" too.
    ToolResult packed = pack(out / "image.exe", {"--template", "{CACHE_DIR}\\" + std::string(4040, 'x')});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    std::vector<std::string> lines = lines_of(packed.err);
    ASSERT_GE(lines.size(), 2u) << packed.err;
    EXPECT_EQ(
        lines[0].rfind("talvik: warning: 4 name(s) may exceed the launcher's path limit of 4095 units", 0),
        0u)
        << lines[0];
    EXPECT_NE(lines[0].find("the longest: data\\numbers.txt"), std::string::npos) << lines[0];
}

TEST_F(PackedImage, OutputInsideTheAppFolderIsNeverPacked) {
    // As in "cd app && talvik pack . -o Orrin-Deck-packed.exe", run again and again.
    fs::path image = app / "Orrin-Deck-packed.exe";
    ToolResult first = pack(image, {"-q"});
    ASSERT_EQ(first.exit_status, 0) << first.err;
    Bytes first_bytes = read_file(image);
    for (std::vector<std::string> extra :
         {std::vector<std::string>{"-q"}, {"-q", "--exe", "Orrin Deck.exe"}}) {
        ToolResult again = pack(image, extra);
        ASSERT_EQ(again.exit_status, 0) << again.err;
        EXPECT_EQ(read_file(image), first_bytes)
            << "neither the earlier image nor a temporary file is packed";
    }
    ToolResult listed = run_talvik_binary({"list", image.string()});
    ASSERT_EQ(listed.exit_status, 0) << listed.err;
    EXPECT_NE(listed.out.find("\n5 entries"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("packed"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find(".talvik-"), std::string::npos) << listed.out;
    EXPECT_EQ(files_below(app.path()).size(), 8u) << "no temporary file left";
}

TEST_F(PackedImage, ExcludesAndAShortVersion) {
    std::vector<std::string> args = {"pack",
                                     app.path().string(),
                                     "--output=" + (out / "image.exe").string(),
                                     "--product",
                                     "Orrin Deck",
                                     "--company",
                                     "Fernwick Studio",
                                     "--version",
                                     "1.02.3",
                                     "--exclude",
                                     "DATA/",
                                     "--exclude",
                                     "z.txt",
                                     "-q"};
    ToolResult packed = run_talvik_binary(args, {"TMPDIR=" + temp.path().string()});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    ToolResult listed = run_talvik_binary({"list", (out / "image.exe").string()});
    ASSERT_EQ(listed.exit_status, 0) << listed.err;
    std::vector<std::string> lines = lines_of(listed.out);
    ASSERT_EQ(lines.size(), 13u) << listed.out;
    EXPECT_EQ(lines[0], "template  {CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.2");
    EXPECT_EQ(lines[3], "version   1.2.3.0");
    EXPECT_TRUE(lines[10].ends_with("  Orrin Deck.exe")) << lines[10];
    EXPECT_TRUE(lines[11].ends_with("  ünïcode\\名前.txt")) << lines[11];

    Bytes file = read_file(out / "image.exe");
    PackOptions options;
    options.company = "Fernwick Studio";
    options.product = "Orrin Deck";
    options.version = "1.2.3.0";
    Bytes expected = write_version_block(resolve_image_metadata(options, "unused").version_texts);
    bool found = false;
    for (const ResourceLeaf& leaf : read_resources(file, parse_pe_image(file))) {
        if (leaf.type == 16) {
            found = leaf.data == expected;
        }
    }
    EXPECT_TRUE(found) << "the version block holds 1.2.3.0";
}

TEST_F(PackedImage, SummaryGivesTheImageSize) {
    ToolResult packed = pack(out / "image.exe");
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    std::string size = std::to_string(fs::file_size(out / "image.exe"));
    std::vector<std::string> lines = lines_of(packed.err);
    ASSERT_EQ(lines.size(), 1u) << packed.err;
    EXPECT_TRUE(lines[0].starts_with("talvik: packed 5 files, ")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with("image.exe, " + size_text(std::stoull(size)) + " (" + size +
                                   " bytes), template {CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20"))
        << lines[0];
    EXPECT_EQ(packed.err.find("\r"), std::string::npos) << "no progress line off a terminal";
}

namespace {

// Packs a folder as a new user would, with no names given: what the image's template is and
// what the pack printed.
struct DefaultPack {
    ToolResult result;
    ImageConstants constants;
};

DefaultPack pack_with_defaults(const fs::path& folder, const fs::path& output,
                               std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"pack", folder.string(), "-o", output.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    DefaultPack packed{run_talvik_binary(args), {}};
    if (packed.result.exit_status == 0) {
        packed.constants = read_image_constants(read_file(output));
    }
    return packed;
}

std::string template_of(const DefaultPack& packed) {
    return utf16_to_utf8(packed.constants.path_template);
}

} // namespace

// Every npm package unpacks to a folder "package": the default template must keep two of
// them apart, and keep the same contents together.
TEST_F(PackedImage, DefaultTemplateWithoutVersionNamesTheContents) {
    fs::path first = app / "one/package";
    fs::path second = app / "two/package";
    for (const fs::path& folder : {first, second}) {
        write_file(folder / "app.exe", tiny_pe());
        write_file(folder / "data.txt", "the same start");
    }
    write_file(second / "data.txt", "other contents");

    DefaultPack a = pack_with_defaults(first, out / "a.exe");
    DefaultPack again = pack_with_defaults(first, out / "again.exe");
    DefaultPack b = pack_with_defaults(second, out / "b.exe");
    ASSERT_EQ(a.result.exit_status, 0) << a.result.err;
    ASSERT_EQ(again.result.exit_status, 0) << again.result.err;
    ASSERT_EQ(b.result.exit_status, 0) << b.result.err;

    std::string identity = identity_text(a.constants.attached_data_identity);
    EXPECT_EQ(template_of(a), "{CACHE_DIR}\\package\\package\\" + identity.substr(0, 12));
    EXPECT_EQ(template_of(again), template_of(a)) << "the same contents, the same folder";
    EXPECT_NE(template_of(b), template_of(a)) << "other contents, another folder";
    EXPECT_EQ(template_of(b), "{CACHE_DIR}\\package\\package\\" +
                                  identity_text(b.constants.attached_data_identity).substr(0, 12));
    EXPECT_EQ(utf16_to_utf8(a.constants.version_string), "1.0.0.0") << "the version stays the default";

    // The summary line names the template the image got; list shows the same.
    std::vector<std::string> lines = lines_of(a.result.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.front().ends_with(", template " + template_of(a))) << lines.front();
    ToolResult listed = run_talvik_binary({"list", (out / "a.exe").string()});
    EXPECT_EQ(lines_of(listed.out).at(0), "template  " + template_of(a));

    // With a version the template is the one it always was; with --template, the given one.
    DefaultPack versioned = pack_with_defaults(first, out / "versioned.exe", {"--version", "2.5.1"});
    ASSERT_EQ(versioned.result.exit_status, 0) << versioned.result.err;
    EXPECT_EQ(template_of(versioned), "{CACHE_DIR}\\package\\package\\2.5");
    DefaultPack given = pack_with_defaults(first, out / "given.exe", {"--template", "{TEMP}\\x"});
    ASSERT_EQ(given.result.exit_status, 0) << given.result.err;
    EXPECT_EQ(template_of(given), "{TEMP}\\x");
}

TEST_F(PackedImage, DefaultTemplateAroundReadyAttachedData) {
    ASSERT_EQ(pack(out / "original.exe", {"-q"}).exit_status, 0);
    ImageConstants original = read_image_constants(read_file(out / "original.exe"));
    write_file(out / "attached.bin", original.attached_data);
    ToolResult rebuilt = run_talvik_binary(
        {"pack", "--attached-data", (out / "attached.bin").string(), "-o", (out / "My App.exe").string()});
    ASSERT_EQ(rebuilt.exit_status, 0) << rebuilt.err;
    ImageConstants constants = read_image_constants(read_file(out / "My App.exe"));
    EXPECT_EQ(constants.attached_data_identity, original.attached_data_identity);
    std::string expected =
        "{CACHE_DIR}\\MyApp\\My-App\\" + identity_text(original.attached_data_identity).substr(0, 12);
    EXPECT_EQ(utf16_to_utf8(constants.path_template), expected);
    std::vector<std::string> lines = lines_of(rebuilt.err);
    ASSERT_EQ(lines.size(), 2u) << rebuilt.err;
    EXPECT_EQ(lines[1],
              "talvik: warning: no --product given: the product name is \"My App\", from the output's name; "
              "give --product to choose it");
    EXPECT_TRUE(lines[0].ends_with(", template " + expected)) << lines[0];
}

TEST_F(PackedImage, WarnsOnceWhenTheProductComesFromTheFolder) {
    write_file(app / "sub/My Tool/tool.exe", tiny_pe());
    DefaultPack named = pack_with_defaults(app / "sub/My Tool", out / "named.exe");
    ASSERT_EQ(named.result.exit_status, 0) << named.result.err;
    std::vector<std::string> lines = lines_of(named.result.err);
    ASSERT_EQ(lines.size(), 2u) << named.result.err;
    EXPECT_EQ(lines[1], "talvik: warning: no --product given: the product name is \"My Tool\", from the app "
                        "folder's name; give --product to choose it");
    EXPECT_TRUE(lines[0].starts_with("talvik: packed 1 files")) << lines[0];
    EXPECT_EQ(utf16_to_utf8(named.constants.product_name), "My Tool");

    // It follows the summary, so --quiet leaves it out too; with --product there is none.
    DefaultPack quiet = pack_with_defaults(app / "sub/My Tool", out / "quiet.exe", {"-q"});
    EXPECT_EQ(quiet.result.err, "");
    DefaultPack given = pack_with_defaults(app / "sub/My Tool", out / "given.exe", {"--product", "Tool"});
    ASSERT_EQ(given.result.exit_status, 0) << given.result.err;
    EXPECT_EQ(given.result.err.find("warning"), std::string::npos) << given.result.err;
}

// The stream is cut into jobs by size alone, so the number of workers cannot change a byte.
TEST_F(PackedImage, SameBytesForEveryThreadCount) {
    fs::path big = app / "big";
    write_file(big / "app.exe", tiny_pe());
    // Several compression jobs' worth of data that compresses, with repeats far apart.
    std::string chunk;
    std::uint32_t state = 1;
    for (std::size_t i = 0; i < (std::size_t{1} << 20); ++i) {
        state = state * 1103515245u + 12345u;
        chunk += static_cast<char>('a' + (state >> 16) % 11);
    }
    for (std::size_t file = 0; file < 3 * compression_job_size / chunk.size(); ++file) {
        write_file(big / ("part" + std::to_string(file) + ".txt"),
                   chunk.substr(0, chunk.size() - file * 1000));
    }
    std::vector<Bytes> images;
    for (const char* threads : {"1", "2", "8"}) {
        fs::path image = out / (std::string("threads-") + threads + ".exe");
        ToolResult packed = run_talvik_binary({"pack", big.string(), "-o", image.string(), "--product", "Big",
                                               "--level", "1", "--threads", threads, "-q"});
        ASSERT_EQ(packed.exit_status, 0) << packed.err;
        images.push_back(read_file(image));
    }
    EXPECT_TRUE(images[0] == images[1]) << "1 and 2 threads";
    EXPECT_TRUE(images[0] == images[2]) << "1 and 8 threads";
    ToolResult listed = run_talvik_binary({"list", (out / "threads-8.exe").string()});
    EXPECT_EQ(listed.exit_status, 0) << listed.err;
}

// The launcher's settings are descriptor fields after the reuse check, each shown by list;
// the entry stream's length goes in whether the data comes from a folder or a ready block.
TEST_F(PackedImage, LauncherSettingsAreDescriptorFieldsShownByList) {
    ASSERT_EQ(pack(out / "default.exe", {"-q", "--windowed"}).exit_status, 0);
    ASSERT_EQ(pack(out / "chosen.exe",
                   {"-q", "--windowed", "--old-trees", "keep", "--child-outlives-launcher", "--no-progress"})
                  .exit_status,
              0);
    auto settings_lines = [](const fs::path& image) {
        std::vector<std::string> lines = lines_of(run_talvik_binary({"list", image.string()}).out);
        return lines.size() > 9 ? std::vector<std::string>(lines.begin() + 7, lines.begin() + 10)
                                : std::vector<std::string>{};
    };
    EXPECT_EQ(settings_lines(out / "default.exe"),
              (std::vector<std::string>{"old trees remove", "child     ends with the launcher",
                                        "progress  window when a start is slow"}));
    EXPECT_EQ(
        settings_lines(out / "chosen.exe"),
        (std::vector<std::string>{"old trees keep", "child     outlives the launcher", "progress  off"}));

    ImageConstants constants = read_image_constants(read_file(out / "default.exe"));
    std::vector<unsigned char> stream =
        build_entry_stream({{u"Orrin Deck.exe", app / "Orrin Deck.exe", {}},
                            {u"Z.txt", app / "Z.txt", {}},
                            {u"data\\empty.bin", app / "data/empty.bin", {}},
                            {u"data\\numbers.txt", app / "data/numbers.txt", {}},
                            {u"ünïcode\\名前.txt", app / "ünïcode/名前.txt", {}}});
    EXPECT_EQ(constants.entry_stream_length, stream.size());
    write_file(out / "block.bin", constants.attached_data);
    ASSERT_EQ(run_talvik_binary({"pack", "--attached-data", (out / "block.bin").string(), "-o",
                                 (out / "rebuilt.exe").string(), "-q"})
                  .exit_status,
              0);
    EXPECT_EQ(read_image_constants(read_file(out / "rebuilt.exe")).entry_stream_length, stream.size());

    // An image whose writer stopped before these fields keeps old trees, as images did before.
    Bytes older = read_file(out / "chosen.exe");
    std::vector<std::size_t> descriptors = find_image_descriptors(older, parse_pe_image(older));
    ASSERT_EQ(descriptors.size(), 1u);
    patch_u32(older, descriptors[0] + offsetof(ImageDescriptor, descriptor_size), 60);
    write_file(out / "older.exe", older);
    EXPECT_EQ(settings_lines(out / "older.exe"),
              (std::vector<std::string>{"old trees keep", "child     ends with the launcher",
                                        "progress  window when a start is slow"}));
}
