// The --exclude patterns: which names they match, compared as Windows compares them, and
// the patterns that are refused.

#include "tests/tools/test_support.hpp"
#include "tools/app_folder/exclude_pattern.hpp"
#include "tools/app_folder/windows_names.hpp"
#include "tools/host/unicode_text.hpp"

#include <gtest/gtest.h>

namespace {

bool excluded(const std::string& pattern, const std::u16string& path, bool is_folder = false) {
    std::vector<std::u16string> components;
    for (std::size_t start = 0;;) {
        std::size_t end = path.find(u'/', start);
        components.push_back(windows_upcase(path.substr(start, end - start)));
        if (end == std::u16string::npos) {
            break;
        }
        start = end + 1;
    }
    return exclude_pattern_matches(parse_exclude_pattern(pattern), components, is_folder);
}

} // namespace

TEST(ExcludePattern, Matches) {
    struct Case {
        const char* pattern;
        std::u16string path;
        bool is_folder;
        bool matches;
    };
    const Case cases[] = {
        // Without a "/" inside: any depth.
        {"*.pdb", u"app.pdb", false, true},
        {"*.pdb", u"bin/deep/x.pdb", false, true},
        {"*.pdb", u"app.pdbx", false, false},
        {"*.PDB", u"bin/x.pdb", false, true},
        {"*.txt", u"É.TXT", false, true},
        {"é*", u"Étude", false, true},
        {"ß*", u"SS", false, false},
        {".git/", u".git", true, true},
        {".git/", u"sub/.GIT", true, true},
        {".git/", u".git", false, false},
        {"build", u"build", true, true},
        {"build", u"src/build", false, true},
        // With a "/": from APP_DIR.
        {"/build/", u"build", true, true},
        {"/build/", u"src/build", true, false},
        {"docs/*.md", u"docs/a.md", false, true},
        {"docs/*.md", u"x/docs/a.md", false, false},
        {"docs/*.md", u"docs/sub/a.md", false, false},
        {"docs\\*.md", u"docs/a.md", false, true},
        // "*" stays within a component, "**" crosses them, none included.
        {"a/*", u"a/b", false, true},
        {"a/*", u"a/b/c", false, false},
        {"a/**", u"a/b/c", false, true},
        {"a/**/c", u"a/c", false, true},
        {"a/**/c", u"a/x/y/c", false, true},
        {"a/**/c", u"a/x/y/d", false, false},
        {"**/c", u"c", false, true},
        {"**", u"anything/at/all", false, true},
        // "?" is one character, a surrogate pair too.
        {"?.txt", u"a.txt", false, true},
        {"?.txt", u"ab.txt", false, false},
        {"?.txt", u"\U0001F600.txt", false, true},
        {"??.txt", u"\U0001F600.txt", false, false},
        {"*x*y*", u"axbxcy", false, true},
        {"*x*y*", u"ayx", false, false},
        {"a*", u"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(excluded(c.pattern, c.path, c.is_folder), c.matches)
            << c.pattern << " on " << shown_name(c.path) << (c.is_folder ? " (folder)" : "");
    }
}

TEST(ExcludePattern, Mistakes) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "is empty"},        {"/", "is empty"},      {"a//b", "empty, \".\" or \"..\""},
        {"../x", "\"..\" part"}, {"./x", "\"..\" part"}, {"x\xFF", "is not valid UTF-8"},
    };
    for (const auto& [pattern, message] : cases) {
        EXPECT_NE(error_of([&] { parse_exclude_pattern(pattern); }).find(message), std::string::npos)
            << pattern << ": " << error_of([&] { parse_exclude_pattern(pattern); });
    }
    EXPECT_NE(error_of([] { parse_exclude_pattern("a\nb//"); }).find("\"a\\nb//\""), std::string::npos)
        << "shown on one line";
}
