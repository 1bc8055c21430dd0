// The check of a path template before it goes into an image: its tokens, the estimate of its
// length, and what is an error or a warning.

#include "tests/tools/test_support.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/pack/template_check.hpp"

#include <gtest/gtest.h>

TEST(TemplateCheck, TokensAndEstimate) {
    TemplateValues values{u"Fernwick Studio", u"Orrin Deck", u"1.20.0.0"};
    struct Case {
        std::u16string text;
        std::size_t estimate;
    };
    const Case cases[] = {
        {u"{CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20", 43 + 31},
        {u"{cache_dir}\\x", 45},
        {u"{Home}", 29},
        {u"{TEMP}\\{PID}-{RANDOM}-{TIME}-{TIME_US}", 48 + 1 + 10 + 1 + 11 + 1 + 18 + 1 + 6},
        {u"{COMPANY}|{PRODUCT}", 15 + 1 + 10},
        {u"{VERSION}{FILE_VERSION}{PRODUCT_VERSION}", 24},
        {u"{PROGRAM_DIR}\\a{PROGRAM_BASE}{PROGRAM}", 302},
        {u"C:\\Apps", 7},
    };
    for (const Case& c : cases) {
        TemplateCheck check = check_path_template(c.text, values);
        EXPECT_EQ(check.estimated_length, c.estimate) << utf16_to_utf8(c.text);
        EXPECT_TRUE(check.warnings.empty()) << utf16_to_utf8(c.text);
    }
}

TEST(TemplateCheck, WhatStopsTheLauncherIsAnError) {
    TemplateValues values{u"c", u"p", u"1.0.0.0"};
    const std::pair<std::u16string, const char*> cases[] = {
        {u"", "is empty"},
        {u"{FOO}\\x", "unknown token {FOO}"},
        {u"{}", "unknown token {}"},
        {u"{ HOME }", "unknown token { HOME }"},
        {u"{HOMEX}", "unknown token"},
        {u"}{}", "unknown token {}"},
        {u"x}{NOPE}", "unknown token {NOPE}"},
        {u"{CACHE_DIR}\\{a\nb}", "unknown token {a\\nb}"},
    };
    for (const auto& [text, message] : cases) {
        EXPECT_NE(error_of([&] { check_path_template(text, values); }).find(message), std::string::npos)
            << utf16_to_utf8(text);
    }
}

TEST(TemplateCheck, WhatTheLauncherDropsIsAWarning) {
    TemplateValues values{u"Fernwick Studio", u"p", u"1.0.0.0"};
    const std::pair<std::u16string, const char*> cases[] = {
        {u"{CACHE_DIR}\\x{HOME", "never closes"},
        {u"{CACHE_DIR}\\a{b{COMPANY}", "is dropped"},
        {u"relative\\dir", "relative"},
        {u"{CACHE_DIR}\\x\\", "ends with a backslash"},
        // The launcher keeps a "}" outside a token as literal text.
        {u"{CACHE_DIR}x}", "outside a token stays"},
        {u"{CACHE_DIR}\\}a}b}", "outside a token stays"},
    };
    for (const auto& [text, message] : cases) {
        TemplateCheck check = check_path_template(text, values);
        ASSERT_EQ(check.warnings.size(), 1u) << utf16_to_utf8(text);
        EXPECT_NE(check.warnings[0].find(message), std::string::npos) << check.warnings[0];
    }
    // The dropped text counts for nothing, as in the launcher: "x" + "" and "a" + company.
    EXPECT_EQ(check_path_template(u"x{HOME", values).estimated_length, 1u);
    EXPECT_EQ(check_path_template(u"{CACHE_DIR}\\a{b{COMPANY}", values).estimated_length, 43u + 2 + 15);
    EXPECT_EQ(check_path_template(u"{CACHE_DIR}\\}a}b}", values).estimated_length, 43u + 6);
}
