// The launcher's manifest: exactly its settings, well nested, on one line.

#include "resources/manifest.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every element name in order, after checking that tags nest properly.
std::vector<std::string> element_names(const std::string& xml) {
    std::vector<std::string> names, open;
    std::size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        std::size_t end = xml.find('>', at);
        std::string tag = xml.substr(at + 1, end - at - 1);
        at = end;
        bool closing = tag[0] == '/';
        bool empty = tag.back() == '/';
        std::string name =
            tag.substr(closing ? 1 : 0, tag.find_first_of(" /", closing ? 1 : 0) - (closing ? 1 : 0));
        if (closing) {
            EXPECT_FALSE(open.empty());
            if (!open.empty()) {
                EXPECT_EQ(open.back(), name);
                open.pop_back();
            }
            continue;
        }
        names.push_back(name);
        if (!empty) {
            open.push_back(name);
        }
    }
    EXPECT_TRUE(open.empty());
    return names;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

} // namespace

TEST(Manifest, HoldsExactlyTheSettings) {
    std::string manifest = launcher_manifest();
    EXPECT_EQ(manifest.find('\n'), std::string::npos) << "one line";
    EXPECT_EQ(manifest.find("<?xml"), std::string::npos) << "no declaration";
    EXPECT_EQ(element_names(manifest),
              (std::vector<std::string>{
                  "asmv1:assembly", "asmv1:assemblyIdentity", "compat:compatibility", "compat:application",
                  "compat:supportedOS", "compat:supportedOS", "compat:supportedOS", "compat:supportedOS",
                  "compat:supportedOS", "asmv3:application", "asmv3:windowsSettings", "ws2016:longPathAware",
                  "asmv1:dependency", "asmv1:dependentAssembly", "asmv1:assemblyIdentity", "asmv3:trustInfo",
                  "asmv3:security", "asmv3:requestedPrivileges", "asmv3:requestedExecutionLevel"}));
    for (const char* part : {
             R"(xmlns:asmv1="urn:schemas-microsoft-com:asm.v1")",
             R"(xmlns:asmv3="urn:schemas-microsoft-com:asm.v3")",
             R"(xmlns:compat="urn:schemas-microsoft-com:compatibility.v1")",
             R"(xmlns:ws2016="http://schemas.microsoft.com/SMI/2016/WindowsSettings")",
             R"(<asmv1:assemblyIdentity type="win32" name="Mini" version="1.0.0.0"/>)",
             R"(Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}")",
             R"(Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}")",
             R"(Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}")",
             R"(Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}")",
             R"(Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")",
             R"(<ws2016:longPathAware>true</ws2016:longPathAware>)",
             R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="*" )"
             R"(publicKeyToken="6595b64144ccf1df" language="*")",
             R"(<asmv3:requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
         }) {
        EXPECT_EQ(count(manifest, part), 1u) << part;
    }
}
