// The UTF-8 to UTF-16 conversion of names and texts, and back.

#include "tests/tools/test_support.hpp"
#include "tools/host/unicode_text.hpp"

#include <gtest/gtest.h>

TEST(UnicodeText, Utf8ToUtf16) {
    EXPECT_EQ(utf8_to_utf16("a\\b", "x"), u"a\\b");
    EXPECT_EQ(utf8_to_utf16("Zürich €", "x"), u"Zürich €");
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80", "x"), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(utf16_to_utf8(u"Zürich 😀"), "Zürich 😀");
    EXPECT_EQ(utf16_to_utf8(std::u16string{u'a', 0xD800}), "a\xEF\xBF\xBD");
    for (std::string bad : {"\xFF", "\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "a\x80", "\xE2\x82"}) {
        EXPECT_NE(error_of([&] { utf8_to_utf16(bad, "the name"); }).find("the name is not valid UTF-8"),
                  std::string::npos);
    }
}
