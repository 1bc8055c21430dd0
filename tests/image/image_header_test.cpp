// The linked launcher image: header settings and import table, read back with objdump.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::filesystem::path stub_path = std::filesystem::path(TALVIK_WIN_BUILD_DIR) / "talvik-stub.exe";

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

class StubImage : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(stub_path)) {
            GTEST_SKIP() << "no stub image at " << stub_path;
        }
        dump = run_capture("x86_64-w64-mingw32-objdump -p '" + stub_path.string() + "'");
        fields = header_fields(dump);
    }
    std::string dump;
    std::map<std::string, std::string> fields;
};

TEST_F(StubImage, HeaderSettings) {
    EXPECT_NE(dump.find("file format pei-x86-64"), std::string::npos);
    EXPECT_EQ(fields["Magic"].substr(0, 4), "020b");
    EXPECT_EQ(hex(fields["Subsystem"]), 3u) << "console";
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

TEST_F(StubImage, NoTimestampExportsOrDebugInformation) {
    // objdump shows a zero timestamp as the epoch.
    EXPECT_NE(fields["Time/Date"].find("1970"), std::string::npos) << fields["Time/Date"];
    EXPECT_NE(dump.find("Entry 0 0000000000000000 00000000 Export Directory"), std::string::npos);
    EXPECT_NE(dump.find("Entry 6 0000000000000000 00000000 Debug Directory"), std::string::npos);
    EXPECT_EQ(dump.find("There is an export table"), std::string::npos);
}

TEST_F(StubImage, ImportsOnlyKernel32AndTwoShell32Functions) {
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

TEST_F(StubImage, StaysWithinItsSizeBudget) {
    // Every packed image carries the stub, so its size is budgeted like a library's: the
    // decoder's size options and the buffers' place in .bss (250 KB that must not become
    // file bytes) keep it at about 79 KB.
    EXPECT_LE(std::filesystem::file_size(stub_path), 96u * 1024);
}

TEST_F(StubImage, EndsWithItsLastSection) {
    std::string sections = run_capture("x86_64-w64-mingw32-objdump -h '" + stub_path.string() + "'");
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
    EXPECT_EQ(std::filesystem::file_size(stub_path), end);
}

} // namespace
