// Windows' name rules on the host: the upper case NTFS compares names in, device names,
// and the --exclude patterns that match names the same way.

#include "tests/tools/test_support.hpp"
#include "tools/app_folder/exclude_pattern.hpp"
#include "tools/app_folder/windows_names.hpp"
#include "tools/host/tool_messages.hpp"
#include "tools/host/unicode_text.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cwctype>
#include <locale.h>

TEST(WindowsUpcase, SimpleMappingUnitByUnit) {
    const std::pair<char16_t, char16_t> cases[] = {
        {u'a', u'A'},
        {u'z', u'Z'},
        {u'A', u'A'},
        {u'1', u'1'},
        {u'é', u'É'},
        {u'ÿ', u'\u0178'},
        {u'ß', u'ß'},
        {u'ı', u'I'},
        {u'ſ', u'S'},
        {u'\u01C5', u'\u01C4'},
        {u'\u01C6', u'\u01C4'},
        {u'ω', u'Ω'},
        {u'ς', u'Σ'},
        {u'я', u'Я'},
        {u'ａ', u'Ａ'},
        {u'\u212A', u'\u212A'},
        // The full mapping would give two characters (Ἀ and Ι); the simple one keeps one.
        {u'\u1F80', u'\u1F88'},
        {u'\u1FB3', u'\u1FBC'},
        // Stride-2 runs: ā, ă map, the upper-case units between them stay.
        {u'\u0101', u'\u0100'},
        {u'\u0100', u'\u0100'},
        {u'\u012F', u'\u012E'},
        {u'\u0130', u'\u0130'},
        // Surrogates are not characters of their own; the table leaves them.
        {0xD801, 0xD801},
        {0xDC28, 0xDC28},
        {0xFFFF, 0xFFFF},
        {0, 0},
    };
    for (const auto& [unit, upper] : cases) {
        EXPECT_EQ(static_cast<int>(windows_upcase(unit)), static_cast<int>(upper))
            << std::hex << static_cast<int>(unit);
    }
    EXPECT_EQ(windows_upcase(u"Données\\é.TXT"), u"DONNÉES\\É.TXT");
}

// glibc's C.UTF-8 towupper is the simple upper-case mapping of the same Unicode data; a
// mistake in the generated runs or in their lookup shows up as a difference here.
TEST(WindowsUpcase, AgreesWithTheCLibraryEverywhere) {
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 == static_cast<locale_t>(0)) {
        GTEST_SKIP() << "no C.UTF-8 locale";
    }
    int differences = 0;
    for (char32_t unit = 0; unit <= 0xFFFF; ++unit) {
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            continue;
        }
        wint_t expected = towupper_l(static_cast<wint_t>(unit), utf8);
        if (expected > 0xFFFF) {
            expected = unit;
        }
        if (windows_upcase(static_cast<char16_t>(unit)) != expected && ++differences <= 10) {
            ADD_FAILURE() << std::hex << "U+" << static_cast<unsigned>(unit) << ": "
                          << static_cast<unsigned>(windows_upcase(static_cast<char16_t>(unit))) << " against "
                          << static_cast<unsigned>(expected);
        }
    }
    freelocale(utf8);
    EXPECT_EQ(differences, 0);
}

TEST(WindowsNames, DeviceNames) {
    for (std::u16string name :
         {u"CON",      u"con",     u"Prn",         u"aux",       u"NUL",        u"COM0",
          u"com9",     u"LPT0",    u"lpt9",        u"COM\u00B9", u"lpt\u00B2",  u"COM\u00B3.log",
          u"CONIN$",   u"conout$", u"CONOUT$.txt", u"nul.txt",   u"NUL.tar.gz", u"nul ",
          u"Con .txt", u"AUX.",    u"PRN..",       u"com1.",     u"lpt1 . x"}) {
        EXPECT_TRUE(is_reserved_device_name(name)) << shown_name(name);
    }
    for (std::u16string name : {u"CONSOLE", u"COM10", u"COM", u"LPT", u"NULL", u"xCON", u"COM1x", u"CONIN",
                                u"CONOUT$x", u"COM\u2074", u".CON", u" CON", u"CON$", u"C\u00D6M1", u""}) {
        EXPECT_FALSE(is_reserved_device_name(name)) << shown_name(name);
    }
}

TEST(WindowsNames, ComponentProblems) {
    const std::pair<std::u16string, const char*> cases[] = {
        {u"a:b", "cannot hold"},       {u"a\\b", "cannot hold"},
        {u"a/b", "cannot hold"},       {u"tab\t", "cannot hold"},
        {u"star*", "cannot hold"},     {u"lpt3.txt", "device name"},
        {u"name.", "ends with a dot"}, {u"name ", "ends with a dot or a blank"},
        {u"...", "ends with a dot"},
    };
    for (const auto& [component, message] : cases) {
        EXPECT_NE(component_problem(component).find(message), std::string::npos) << shown_name(component);
    }
    for (std::u16string fine : {u"a.b", u".hidden", u"a b", u"}x{", u"ß", u"名前", u"\U0001F600"}) {
        EXPECT_EQ(component_problem(fine), "") << shown_name(fine);
    }
}

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
