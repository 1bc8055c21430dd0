// The generated upper-case table NTFS compares names in, looked up unit by unit.

#include "tools/app_folder/windows_names.hpp"

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
