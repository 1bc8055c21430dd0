// The image's texts when options leave them out: the default template, company, product and
// version block, and the version numbers.

#include "resources/version_block.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/pack/image_metadata.hpp"
#include "tools/pack/pack_options.hpp"

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
