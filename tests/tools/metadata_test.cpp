// Option parsing, defaults of the image's texts, version numbers, template checks and
// the UTF-8 to UTF-16 conversion of names and texts.

#include "tests/tools/test_support.hpp"
#include "tools/host/tool_messages.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/pack/image_metadata.hpp"
#include "tools/pack/pack_options.hpp"
#include "tools/pack/template_check.hpp"

#include <gtest/gtest.h>

TEST(DefaultTemplate, FromCompanyProductAndVersion) {
    struct Case {
        std::u16string company, product;
        std::string version;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"Fernwick Studio", u"Orrin Deck", "1.20.0.0", u"{CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20"},
        {u" A  B\t", u"x y  z", "3.4.5.6", u"{CACHE_DIR}\\AB\\x-y--z\\3.4"},
        {u"Zürich Soft", u"Über App", "0.0.0.0", u"{CACHE_DIR}\\ZürichSoft\\Über-App\\0.0"},
        {u"Acme", u"Acme", "65535.1.2.3", u"{CACHE_DIR}\\Acme\\Acme\\65535.1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(default_path_template(c.company, c.product, c.version), c.expected);
    }
}

TEST(DefaultTemplate, NamesThatMakeNoDirectory) {
    EXPECT_NE(error_of([] {
                  default_path_template(u"   ", u"Orrin Deck", "1.0.0.0");
              }).find("empty directory name"),
              std::string::npos);
    for (std::u16string product : {u"a/b", u"a\\b", u"a:b", u"My {App}", u"what?", u"tab\u0001", u"CON",
                                   u"Nul", u"com1", u"LPT\u00B9"}) {
        EXPECT_NE(
            error_of([&] { default_path_template(u"Acme", product, "1.0.0.0"); }).find("give --template"),
            std::string::npos)
            << utf16_to_utf8(product);
    }
}

TEST(ImageMetadata, ReferenceBuild) {
    PackOptions options;
    options.company = "Fernwick Studio";
    options.product = "Orrin Deck";
    options.version = "1.20.0.0";
    ImageMetadata metadata = resolve_image_metadata(options, "ignored");
    EXPECT_EQ(metadata.path_template, u"{CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20");
    EXPECT_EQ(metadata.company, u"Fernwick Studio");
    EXPECT_EQ(metadata.product, u"Orrin Deck");
    EXPECT_EQ(metadata.version, u"1.20.0.0");
    const VersionTexts& texts = metadata.version_texts;
    EXPECT_EQ(texts.version, (std::array<std::uint16_t, 4>{1, 20, 0, 0}));
    EXPECT_EQ(texts.company_name, u"Fernwick Studio");
    EXPECT_EQ(texts.product_name, u"Orrin Deck");
    EXPECT_EQ(texts.file_description, u"Orrin Deck");
    EXPECT_EQ(texts.legal_copyright, u"Copyright (C) Fernwick Studio");
    EXPECT_EQ(texts.product_version, u"1.20.0.0");
    EXPECT_EQ(texts.file_version, u"1.20.0.0");
    EXPECT_EQ(texts.original_filename, u"Orrin-Deck.exe");
    EXPECT_EQ(texts.internal_name, u"Orrin-Deck");
}

TEST(ImageMetadata, DefaultsWhenNothingIsGiven) {
    ImageMetadata metadata = resolve_image_metadata(PackOptions{}, "demo tool");
    EXPECT_EQ(metadata.product, u"demo tool");
    EXPECT_EQ(metadata.company, u"demo tool");
    EXPECT_EQ(metadata.version, u"1.0.0.0");
    // Without a version, the last folder is the image's identity, known once it is packed.
    EXPECT_TRUE(metadata.template_names_identity);
    EXPECT_EQ(metadata.path_template, u"{CACHE_DIR}\\demotool\\demo-tool\\????????????");
    EXPECT_EQ(image_path_template(metadata, 0x0123456789abcdefu),
              u"{CACHE_DIR}\\demotool\\demo-tool\\0123456789ab");
    EXPECT_EQ(metadata.version_texts.legal_copyright, u"Copyright (C) demo tool");
    EXPECT_EQ(metadata.version_texts.original_filename, u"demo-tool.exe");

    PackOptions given;
    given.path_template = "{TEMP}\\{company}";
    given.copyright = "© 2026 Somebody";
    given.product = "Ü";
    metadata = resolve_image_metadata(given, "unused");
    EXPECT_EQ(metadata.path_template, u"{TEMP}\\{company}");
    EXPECT_FALSE(metadata.template_names_identity);
    EXPECT_EQ(image_path_template(metadata, 42), u"{TEMP}\\{company}");
    EXPECT_EQ(metadata.version_texts.legal_copyright, u"© 2026 Somebody");
    EXPECT_EQ(metadata.company, u"Ü");
}

TEST(DefaultTemplate, VersionOrIdentityAsTheLastFolder) {
    PackOptions versioned;
    versioned.version = "1.0";
    ImageMetadata metadata = resolve_image_metadata(versioned, "package");
    EXPECT_FALSE(metadata.template_names_identity);
    EXPECT_EQ(metadata.path_template, u"{CACHE_DIR}\\package\\package\\1.0");
    EXPECT_EQ(image_path_template(metadata, 0xffffffffffffffffu), metadata.path_template);

    ImageMetadata unversioned = resolve_image_metadata(PackOptions{}, "package");
    ASSERT_TRUE(unversioned.template_names_identity);
    // Leading zeros are kept, so that every identity gives a folder of one length.
    EXPECT_EQ(image_path_template(unversioned, 0x00000000000abcdeu),
              u"{CACHE_DIR}\\package\\package\\00000000000a");
    EXPECT_EQ(image_path_template(unversioned, 0xfedcba9876543210u),
              u"{CACHE_DIR}\\package\\package\\fedcba987654");
    EXPECT_EQ(image_path_template(unversioned, 1).size(), unversioned.path_template.size());
    EXPECT_EQ(identity_folder(0x1234567890abcdefu), u"1234567890ab");
}

TEST(Version, OneToFourNumbersEachUpTo65535) {
    EXPECT_EQ(parse_version("1.20.0.0"), (std::array<std::uint16_t, 4>{1, 20, 0, 0}));
    EXPECT_EQ(parse_version("0.0.0.0"), (std::array<std::uint16_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(parse_version("65535.65535.65535.65535"),
              (std::array<std::uint16_t, 4>{65535, 65535, 65535, 65535}));
    const std::pair<const char*, const char*> normalised[] = {
        {"1.2.3", "1.2.3.0"},        {"7", "7.0.0.0"},
        {"1.20", "1.20.0.0"},        {"01.002.0003.00004", "1.2.3.4"},
        {"1.2.3.000001", "1.2.3.1"}, {"0000000000065535", "65535.0.0.0"},
    };
    for (const auto& [given, text] : normalised) {
        EXPECT_EQ(version_text(parse_version(given)), text) << given;
    }
    for (const char* bad :
         {"", "1.2.3.4.5", "1.2.3.65536", "1..3.4", "a.b.c.d", "1.2.3.-4", " 1.2.3.4", "1.2.3.4 ", "+1.2.3.4",
          "1.2.3.", ".1.2.3", "99999.0.0.0", "1.2.3.4.", "1,2", "."}) {
        EXPECT_NE(error_of([&] { parse_version(bad); }).find("is not 1 to 4 numbers"), std::string::npos)
            << bad;
    }
}

TEST(Version, NormalisedTextReachesTokensAndVersionBlock) {
    PackOptions options;
    options.version = "01.2.3";
    options.product = "Orrin Deck";
    ImageMetadata metadata = resolve_image_metadata(options, "unused");
    EXPECT_EQ(metadata.version, u"1.2.3.0");
    EXPECT_EQ(metadata.path_template, u"{CACHE_DIR}\\OrrinDeck\\Orrin-Deck\\1.2");
    EXPECT_EQ(metadata.version_texts.version, (std::array<std::uint16_t, 4>{1, 2, 3, 0}));
    EXPECT_EQ(metadata.version_texts.file_version, u"1.2.3.0");
    EXPECT_EQ(metadata.version_texts.product_version, u"1.2.3.0");
}

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

TEST(Text, Utf8ToUtf16) {
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

TEST(PackOptions, ValuesAndDefaults) {
    PackOptions options =
        parse_pack_options({"app", "-o", "out.exe", "--level=9", "--window-log", "27", "--icon", "a.png",
                            "--icon=b.png", "--quiet", "--exe", "bin/x.exe"});
    EXPECT_EQ(options.app_dir, std::filesystem::path("app"));
    EXPECT_EQ(options.output, "out.exe");
    EXPECT_EQ(options.level, 9);
    EXPECT_EQ(options.window_log, 27);
    EXPECT_EQ(options.icons, (std::vector<std::filesystem::path>{"a.png", "b.png"}));
    EXPECT_TRUE(options.quiet);
    EXPECT_FALSE(options.windowed) << "a console launcher unless asked";
    EXPECT_EQ(options.exe, "bin/x.exe");
    EXPECT_TRUE(parse_pack_options({"app", "--windowed", "-o", "out.exe"}).windowed);
    EXPECT_TRUE(parse_pack_options({"--attached-data", "blob", "--windowed", "-o", "out.exe"}).windowed);
    EXPECT_EQ(options.reuse_check, reuse_check_crc) << "every file's CRC-32 unless asked";
    EXPECT_EQ(parse_pack_options({"app", "--reuse-check", "metadata", "-o", "out.exe"}).reuse_check,
              reuse_check_metadata);
    EXPECT_EQ(parse_pack_options({"--attached-data", "blob", "--reuse-check=metadata", "-o", "out.exe"})
                  .reuse_check,
              reuse_check_metadata);
    EXPECT_EQ(parse_pack_options({"app", "--reuse-check=crc", "-o", "out.exe"}).reuse_check, reuse_check_crc);
    EXPECT_EQ(options.old_trees, old_trees_remove) << "old trees go unless asked";
    EXPECT_EQ(options.child_lifetime, child_ends_with_launcher);
    EXPECT_EQ(options.progress_window, progress_window_when_slow);
    options = parse_pack_options(
        {"app", "-o", "out.exe", "--old-trees", "keep", "--child-outlives-launcher", "--no-progress"});
    EXPECT_EQ(options.old_trees, old_trees_keep);
    EXPECT_EQ(options.child_lifetime, child_outlives_launcher);
    EXPECT_EQ(options.progress_window, progress_window_off);
    EXPECT_EQ(parse_pack_options({"app", "-o", "out.exe", "--old-trees=remove"}).old_trees, old_trees_remove);

    options = parse_pack_options({"-o", "out.exe", "--", "-app-"});
    EXPECT_EQ(options.app_dir, std::filesystem::path("-app-"));
    EXPECT_FALSE(options.level);
    EXPECT_FALSE(options.threads) << "one worker per core unless asked";
    EXPECT_EQ(parse_pack_options({"app", "-o", "out.exe", "--threads", "1"}).threads, 1);
    EXPECT_EQ(parse_pack_options({"app", "-o", "out.exe", "--threads=256"}).threads, 256);

    options = parse_pack_options({"--attached-data", "blob", "-o", "out.exe"});
    EXPECT_FALSE(options.app_dir);
    EXPECT_EQ(options.attached_data, std::filesystem::path("blob"));
    EXPECT_TRUE(parse_pack_options({"--help"}).help);
}

TEST(PackOptions, OutputSpellingsAndExcludes) {
    for (std::vector<std::string> args : {std::vector<std::string>{"app", "-oout.exe"},
                                          {"app", "--output=out.exe"},
                                          {"app", "--output", "out.exe"},
                                          {"-o", "out.exe", "app"}}) {
        EXPECT_EQ(parse_pack_options(args).output, "out.exe") << args[1];
    }
    EXPECT_EQ(parse_pack_options({"app", "-o-dash.exe"}).output, "-dash.exe");

    PackOptions options = parse_pack_options(
        {"app", "-o", "out.exe", "--exclude", "*.pdb", "--exclude=.git/", "--exclude", "a/b"});
    ASSERT_EQ(options.excludes.size(), 3u);
    EXPECT_EQ(options.excludes[0].text, "*.pdb");
    EXPECT_TRUE(options.excludes[1].folders_only);
    EXPECT_EQ(options.excludes[2].components, (std::vector<std::u16string>{u"A", u"B"}));
}

TEST(PackOptions, Mistakes) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"app"}, "no output file"},
        {{"-o", "out.exe"}, "no APP_DIR"},
        {{"a", "b", "-o", "out.exe"}, "one APP_DIR only"},
        {{"app", "-o", "out.exe", "--level", "0"}, "--level wants a whole number from 1 to 22"},
        {{"app", "-o", "out.exe", "--level", "23"}, "--level wants"},
        {{"app", "-o", "out.exe", "--level", "5x"}, "--level wants"},
        {{"app", "-o", "out.exe", "--window-log", "9"}, "from 10 to 27"},
        {{"app", "-o", "out.exe", "--window-log", "28"}, "from 10 to 27"},
        {{"app", "-o", "out.exe", "--threads", "0"}, "--threads wants a whole number from 1 to 256"},
        {{"app", "-o", "out.exe", "--threads", "257"}, "from 1 to 256"},
        {{"app", "-o", "out.exe", "--threads", "2", "--threads", "2"}, "--threads is given twice"},
        {{"-o", "a.exe", "--attached-data", "blob", "--threads", "2"}, "no use with --attached-data"},
        {{"app", "-o", "out.exe", "--frobnicate"}, "unknown option --frobnicate"},
        {{"app", "-o"}, "-o wants a value"},
        {{"app", "-o", "a.exe", "-o", "b.exe"}, "given twice"},
        {{"app", "-o", "a.exe", "--company", "x", "--company", "y"}, "--company is given twice"},
        {{"app", "-o", "a.exe", "--attached-data", "blob"}, "not both"},
        {{"-o", "a.exe", "--attached-data", "blob", "--level", "3"}, "no use with --attached-data"},
        {{"app", "-o", "a.exe", "--quiet=yes"}, "takes no value"},
        {{"app", "-o", "a.exe", "--windowed=yes"}, "--windowed takes no value"},
        {{"app", "--output="}, "-o wants a file name"},
        {{"app", "-o", "a.exe", "--exclude"}, "--exclude wants a value"},
        {{"app", "-o", "a.exe", "--exclude", ""}, "is empty"},
        {{"app", "-o", "a.exe", "--exclude", "a/../b"}, "\"..\" part"},
        {{"-o", "a.exe", "--attached-data", "blob", "--exclude", "x"}, "no use with --attached-data"},
        {{"app", "-o", "a.exe", "--bad\noption"}, "unknown option --bad\\noption"},
        {{"app", "-o", "a.exe", "--reuse-check", "mtime"},
         "--reuse-check wants crc or metadata, not \"mtime\""},
        {{"app", "-o", "a.exe", "--reuse-check", "CRC"}, "--reuse-check wants crc or metadata"},
        {{"app", "-o", "a.exe", "--reuse-check=crc", "--reuse-check", "crc"}, "--reuse-check is given twice"},
        {{"app", "-o", "a.exe", "--reuse-check"}, "--reuse-check wants a value"},
        {{"app", "-o", "a.exe", "--old-trees", "never"}, "--old-trees wants remove or keep, not \"never\""},
        {{"app", "-o", "a.exe", "--old-trees=keep", "--old-trees=keep"}, "--old-trees is given twice"},
        {{"app", "-o", "a.exe", "--no-progress=yes"}, "--no-progress takes no value"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_NE(error_of([&] { parse_pack_options(args); }).find(message), std::string::npos)
            << message << ": " << error_of([&] { parse_pack_options(args); });
    }
}
