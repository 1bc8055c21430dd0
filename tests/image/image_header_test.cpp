// The launcher's images, read back with objdump: the bare stub as linked, and the console and
// windowed images that talvik pack writes from it, which must keep every setting of the stub
// but the windowed one's subsystem.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

const fs::path stub_path = fs::path(TALVIK_WIN_BUILD_DIR) / "talvik-stub.exe";

std::string run_capture(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        output.append(chunk, got);
    }
    pclose(pipe);
    return output;
}

// "Name<tabs>value" lines of objdump's private header dump.
std::map<std::string, std::string> header_fields(const std::string& dump) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(dump);
    std::string line;
    const std::regex field(R"(^([A-Za-z/]+)\s+(\S.*)$)");
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, field) && !fields.contains(match[1])) {
            fields[match[1]] = match[2];
        }
    }
    return fields;
}

unsigned long long hex(const std::string& text) {
    return std::stoull(text.substr(0, text.find_first_of(" \t")), nullptr, 16);
}

// A packed image around a tiny application, made once for each kind in a folder of its own.
class PackedImageFile {
  public:
    static const fs::path& path(bool windowed) {
        static PackedImageFile console(false);
        static PackedImageFile gui(true);
        return windowed ? gui.image_ : console.image_;
    }
    ~PackedImageFile() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

  private:
    explicit PackedImageFile(bool windowed) {
        std::string pattern = (fs::temp_directory_path() / "talvik-image-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        folder_ = pattern;
        fs::create_directories(folder_ / "app");
        fs::copy_file(stub_path, folder_ / "app" / "app.exe");
        std::ofstream(folder_ / "app" / "data.txt") << std::string(300000, 'd');
        image_ = folder_ / "packed.exe";
        std::ostringstream command;
        command << "'" << TALVIK_TOOL << "' pack '" << (folder_ / "app").string() << "' -o '"
                << image_.string() << "' --quiet" << (windowed ? " --windowed" : "");
        if (std::system(command.str().c_str()) != 0) {
            image_.clear();
        }
    }
    fs::path folder_;
    fs::path image_;
};

enum class ImageKind { stub, packed, windowed };

// Every check holds for both images.
class LauncherImage : public ::testing::TestWithParam<ImageKind> {
  protected:
    void SetUp() override {
        if (!fs::exists(stub_path)) {
            GTEST_SKIP() << "no stub image at " << stub_path;
        }
        path = GetParam() == ImageKind::stub ? stub_path
                                             : PackedImageFile::path(GetParam() == ImageKind::windowed);
        ASSERT_FALSE(path.empty()) << "talvik pack failed";
        dump = run_capture("x86_64-w64-mingw32-objdump -p '" + path.string() + "'");
        fields = header_fields(dump);
    }
    fs::path path;
    std::string dump;
    std::map<std::string, std::string> fields;
};

INSTANTIATE_TEST_SUITE_P(Images, LauncherImage,
                         ::testing::Values(ImageKind::stub, ImageKind::packed, ImageKind::windowed),
                         [](const ::testing::TestParamInfo<ImageKind>& info) {
                             return info.param == ImageKind::stub     ? "Stub"
                                    : info.param == ImageKind::packed ? "Packed"
                                                                      : "Windowed";
                         });

TEST_P(LauncherImage, HeaderSettings) {
    EXPECT_NE(dump.find("file format pei-x86-64"), std::string::npos);
    EXPECT_EQ(fields["Magic"].substr(0, 4), "020b");
    if (GetParam() == ImageKind::windowed) {
        EXPECT_EQ(hex(fields["Subsystem"]), 2u) << "windowed (GUI)";
    } else {
        EXPECT_EQ(hex(fields["Subsystem"]), 3u) << "console";
    }
    EXPECT_EQ(fields["MajorSubsystemVersion"], "6");
    EXPECT_EQ(fields["MinorSubsystemVersion"], "0");
    EXPECT_EQ(fields["MajorOSystemVersion"], "6");
    EXPECT_EQ(fields["MinorOSystemVersion"], "0");
    EXPECT_EQ(hex(fields["SizeOfStackReserve"]), 0x968000u);
    EXPECT_EQ(hex(fields["SizeOfStackCommit"]), 4096u);
    EXPECT_EQ(hex(fields["SizeOfHeapReserve"]), 0x100000u);
    EXPECT_EQ(hex(fields["SizeOfHeapCommit"]), 4096u);
    EXPECT_EQ(hex(fields["CheckSum"]), 0u);

    unsigned long long characteristics = hex(fields["Characteristics"]);
    EXPECT_TRUE(characteristics & 0x0020) << "large address aware";
    EXPECT_TRUE(characteristics & 0x0002) << "executable";
    unsigned long long dll_characteristics = hex(fields["DllCharacteristics"]);
    EXPECT_TRUE(dll_characteristics & 0x0020) << "high entropy VA";
    EXPECT_TRUE(dll_characteristics & 0x0040) << "dynamic base";
    EXPECT_TRUE(dll_characteristics & 0x0100) << "NX compatible";
    EXPECT_TRUE(dll_characteristics & 0x8000) << "terminal server aware";
}

TEST_P(LauncherImage, NoTimestampExportsOrDebugInformation) {
    // objdump shows a zero timestamp as the epoch.
    EXPECT_NE(fields["Time/Date"].find("1970"), std::string::npos) << fields["Time/Date"];
    EXPECT_NE(dump.find("Entry 0 0000000000000000 00000000 Export Directory"), std::string::npos);
    EXPECT_NE(dump.find("Entry 6 0000000000000000 00000000 Debug Directory"), std::string::npos);
    EXPECT_EQ(dump.find("There is an export table"), std::string::npos);
}

TEST_P(LauncherImage, ImportsOnlyKernel32AndTwoShell32Functions) {
    std::set<std::string> dlls;
    std::map<std::string, std::set<std::string>> functions;
    std::istringstream lines(dump);
    std::string line;
    std::string current;
    const std::regex dll_line(R"(^\s*DLL Name: (\S+)$)");
    const std::regex function_line(R"(^\s+[0-9a-f]+\s+\d+\s+(\S+)$)");
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, dll_line)) {
            current = match[1];
            dlls.insert(current);
        } else if (!current.empty() && std::regex_match(line, match, function_line)) {
            functions[current].insert(match[1]);
        }
    }
    EXPECT_EQ(dlls, (std::set<std::string>{"KERNEL32.dll", "SHELL32.dll"}));
    EXPECT_EQ(functions["SHELL32.dll"], (std::set<std::string>{"CommandLineToArgvW", "SHGetFolderPathW"}));
    EXPECT_FALSE(functions["KERNEL32.dll"].empty());
}

TEST_P(LauncherImage, StaysWithinItsSizeBudget) {
    // Every packed image carries the stub, so its size is budgeted like a library's: the
    // decoder's size options, the launcher's own code built for size and the buffers' place
    // in .bss (300 KB that must not become file bytes) keep it at about 92 KB; with its
    // constants, resources and alignment a packed image less its attached data stays within
    // the same budget. The budget was 100 KiB until every launcher began to stamp its tree,
    // mark it in use and remove the old trees of its product: about 4.5 KB of code that
    // nothing else could give back, so it is now the next round figure that holds it.
    std::uintmax_t size = fs::file_size(path);
    if (GetParam() != ImageKind::stub) {
        std::ostringstream command;
        command << "'" << TALVIK_TOOL << "' list '" << path.string() << "'";
        std::string list = run_capture(command.str());
        std::smatch match;
        ASSERT_TRUE(std::regex_search(list, match, std::regex(R"(attached  (\d+) bytes)"))) << list;
        size -= std::stoull(match[1]);
    }
    EXPECT_LE(size, 104u * 1024);
}

TEST_P(LauncherImage, ResourcesAsObjdumpReadsThem) {
    // Another reader of the resource directory: entries by level (type, name, language, told
    // apart by objdump's indentation) and leaves that lie inside the directory's range.
    const std::regex directory_entry(R"(^Entry 2 ([0-9a-f]+) ([0-9a-f]+) Resource Directory)");
    std::smatch match;
    std::istringstream lines(dump);
    std::string line;
    unsigned long long start = 0, size = 0;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, match, directory_entry)) {
            start = std::stoull(match[1], nullptr, 16);
            size = std::stoull(match[2], nullptr, 16);
        }
    }
    if (GetParam() == ImageKind::stub) {
        EXPECT_EQ(size, 0u) << "the stub carries no resources";
        return;
    }
    ASSERT_GT(size, 0u);
    const std::regex entry(R"(^[0-9a-f]+( +)Entry: ID: (?:0x)?([0-9a-f]+), Value)");
    const std::regex leaf(R"(Leaf: Addr: 0x([0-9a-f]+), Size: 0x([0-9a-f]+))");
    std::map<size_t, std::vector<unsigned long>> ids_by_indent;
    int leaves = 0;
    std::istringstream again(dump);
    while (std::getline(again, line)) {
        if (std::regex_search(line, match, entry)) {
            ids_by_indent[match[1].length()].push_back(std::stoul(match[2], nullptr, 16));
        } else if (std::regex_search(line, match, leaf)) {
            ++leaves;
            unsigned long long address = std::stoull(match[1], nullptr, 16);
            EXPECT_GE(address, start);
            EXPECT_LE(address + std::stoull(match[2], nullptr, 16), start + size);
        }
    }
    ASSERT_EQ(ids_by_indent.size(), 3u) << dump;
    auto level = ids_by_indent.begin();
    EXPECT_EQ(level->second, (std::vector<unsigned long>{3, 14, 16, 24})) << "icon, group, version, manifest";
    ++level;
    EXPECT_EQ(level->second, (std::vector<unsigned long>{1, 2, 3, 4, 5, 6, 7, 1, 1, 1}));
    ++level;
    EXPECT_EQ(level->second, std::vector<unsigned long>(10, 0)) << "the neutral language";
    EXPECT_EQ(leaves, 10);
}

TEST_P(LauncherImage, EndsWithItsLastSection) {
    std::string sections = run_capture("x86_64-w64-mingw32-objdump -h '" + path.string() + "'");
    // Columns: Idx Name Size VMA LMA File-off Algn
    const std::regex section_line(
        R"(^\s*\d+\s+\S+\s+([0-9a-f]+)\s+[0-9a-f]+\s+[0-9a-f]+\s+([0-9a-f]+)\s+2\*\*\d+$)");
    std::istringstream lines(sections);
    std::string line;
    std::smatch match;
    unsigned long long end = 0;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, section_line)) {
            unsigned long long size = std::stoull(match[1], nullptr, 16);
            unsigned long long offset = std::stoull(match[2], nullptr, 16);
            if (offset == 0) {
                continue; // no file bytes, like .bss
            }
            // Raw data is padded to the 512-byte file alignment.
            end = std::max(end, offset + ((size + 511) / 512) * 512);
        }
    }
    EXPECT_EQ(fs::file_size(path), end);
}

} // namespace
