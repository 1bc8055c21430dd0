// talvik pack --json and talvik list --json read back with a real JSON parser: every
// documented field, for console and windowed images, with and without --version; and the
// string escaping that keeps any name a valid JSON text.

#include "payload/producer.hpp"
#include "tests/tools/hostile_blocks.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/host/json_text.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/image/attached_data_identity.hpp"
#include "tools/image/constants_reader.hpp"
#include "tools/image/embedded_stub.hpp"
#include "tools/image/image_writer.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <zlib.h>
#include <zstd.h>

#include <map>
#include <set>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const fs::path stub_image = fs::path(TALVIK_WIN_BUILD_DIR) / "talvik-stub.exe";

// The fields both documents carry, and each one's own.
const std::set<std::string> shared_fields = {
    "image_size",  "attached_data_size", "identity",    "template",  "company",        "product",
    "version",     "subsystem",          "reuse_check", "old_trees", "child_lifetime", "progress_window",
    "entry_count", "uncompressed_bytes"};

std::set<std::string> keys_of(const json& document) {
    std::set<std::string> keys;
    for (const auto& [key, value] : document.items()) {
        keys.insert(key);
    }
    return keys;
}

std::set<std::string> with(std::set<std::string> fields, std::initializer_list<std::string> more) {
    fields.insert(more);
    return fields;
}

std::string crc_text(const std::string& body) {
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    char text[9];
    std::snprintf(text, sizeof text, "%08x", crc == 0 ? 1 : crc);
    return text;
}

class JsonDocuments : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(stub_image)) {
            GTEST_SKIP() << "no Windows build in " << TALVIK_WIN_BUILD_DIR;
        }
        exe = read_file(stub_image);
        write_file(app / "Orrin Deck.exe", exe);
        write_file(app / "data/cards.txt", std::string(5000, 'c'));
        write_file(app / "data/empty.bin", "");
        write_file(app / "ünïcode/名前 [1].txt", "name");
    }

    // The document on stdout; nothing else there, and status 0.
    json run_json(const std::vector<std::string>& args, std::string* err = nullptr) {
        ToolResult result = run_talvik_binary(args, {"TMPDIR=" + temp.path().string()});
        EXPECT_EQ(result.exit_status, 0) << result.err;
        if (err) {
            *err = result.err;
        }
        return json::parse(result.out);
    }

    Bytes exe;
    ScratchFolder app, out, temp;
};

} // namespace

TEST_F(JsonDocuments, PackAndListDescribeTheSameImage) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        const char* subsystem;
        const char* version;
    };
    const Case cases[] = {
        {"console with --version", {"--version", "1.20"}, "console", "1.20.0.0"},
        {"windowed with --version", {"--version", "1.20", "--windowed"}, "windowed", "1.20.0.0"},
        {"console without --version", {}, "console", "1.0.0.0"},
        {"windowed without --version, other settings",
         {"--windowed", "--reuse-check", "metadata", "--old-trees", "keep", "--child-outlives-launcher",
          "--no-progress"},
         "windowed",
         "1.0.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path image = out / "Orrin Deck.exe";
        std::vector<std::string> args = {"pack",         app.path().string(), "-o",
                                         image.string(), "--company",         "Fernwick Studio",
                                         "--product",    "Orrin Deck",        "--json"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::string err;
        json packed = run_json(args, &err);
        EXPECT_EQ(err, "") << "no summary line";
        EXPECT_EQ(keys_of(packed), with(shared_fields, {"output", "seconds"}));
        EXPECT_EQ(packed["output"], image.string());
        EXPECT_EQ(packed["image_size"], fs::file_size(image));
        EXPECT_EQ(packed["company"], "Fernwick Studio");
        EXPECT_EQ(packed["product"], "Orrin Deck");
        EXPECT_EQ(packed["version"], c.version);
        EXPECT_EQ(packed["subsystem"], c.subsystem);
        EXPECT_EQ(packed["entry_count"], 4);
        EXPECT_EQ(packed["uncompressed_bytes"], exe.size() + 5004);
        EXPECT_TRUE(packed["seconds"].is_number());
        EXPECT_GE(packed["seconds"].get<double>(), 0.0);

        ImageConstants constants = read_image_constants(read_file(image));
        EXPECT_EQ(packed["attached_data_size"], constants.attached_data.size());
        EXPECT_EQ(packed["identity"], identity_text(constants.attached_data_identity));
        std::string expected_template =
            std::string(c.version) == "1.20.0.0"
                ? "{CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20"
                : "{CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\" +
                      identity_text(constants.attached_data_identity).substr(0, 12);
        EXPECT_EQ(packed["template"], expected_template);
        bool defaults = c.options.size() < 4;
        EXPECT_EQ(packed["reuse_check"], defaults ? "crc" : "metadata");
        EXPECT_EQ(packed["old_trees"], defaults ? "remove" : "keep");
        EXPECT_EQ(packed["child_lifetime"], defaults ? "ends_with_launcher" : "outlives_launcher");
        EXPECT_EQ(packed["progress_window"], defaults ? "when_slow" : "off");

        json listed = run_json({"list", "--json", image.string()});
        EXPECT_EQ(keys_of(listed), with(shared_fields, {"entries"}));
        for (const std::string& field : shared_fields) {
            EXPECT_EQ(listed[field], packed[field]) << field;
        }
        ASSERT_EQ(listed["entries"].size(), 4u);
        const json& first = listed["entries"][0];
        EXPECT_EQ(keys_of(first), (std::set<std::string>{"name", "size", "checksum", "checksum_matches"}));
        EXPECT_EQ(first["name"], "Orrin Deck.exe");
        EXPECT_EQ(first["size"], exe.size());
        EXPECT_EQ(first["checksum"], crc_text(std::string(exe.begin(), exe.end())));
        EXPECT_EQ(first["checksum_matches"], true);
        std::map<std::string, json> by_name;
        for (const json& entry : listed["entries"]) {
            by_name[entry["name"]] = entry;
        }
        EXPECT_EQ(by_name.size(), 4u);
        EXPECT_EQ(by_name["data\\empty.bin"]["checksum"], "00000001") << "the empty body";
        EXPECT_EQ(by_name["data\\cards.txt"]["size"], 5000);
        EXPECT_EQ(by_name["ünïcode\\名前 [1].txt"]["checksum"], crc_text("name"));
    }
}

TEST_F(JsonDocuments, AroundGivenAttachedDataAndForAFaultyImage) {
    CompressionSettings quick;
    quick.level = 1;
    quick.threads = 1;
    std::string program(exe.begin(), exe.end());
    write_file(out / "block.bin",
               build_attached_data({{u"app.exe", {}, program}, {u"a\u0001b", {}, "odd name"}}, quick));
    json packed = run_json({"pack", "--attached-data", (out / "block.bin").string(), "-o",
                            (out / "given.exe").string(), "--json", "-q"});
    EXPECT_EQ(keys_of(packed), with(shared_fields, {"output", "seconds"}));
    EXPECT_EQ(packed["entry_count"], 2);
    EXPECT_EQ(packed["uncompressed_bytes"], program.size() + 8);
    EXPECT_EQ(packed["product"], "given");
    json listed = run_json({"list", (out / "given.exe").string(), "--json"});
    EXPECT_EQ(listed["entries"][1]["name"], "a\u0001b") << "a control character, escaped and read back";

    // An entry that does not match: the whole document, then the error line and status 1.
    std::vector<unsigned char> stream = build_entry_stream({{u"app.exe", {}, program}, {u"b.txt", {}, "b"}});
    stream[stream.size() - 2 - 1 - 4] ^= 1;
    std::vector<unsigned char> frame(ZSTD_compressBound(stream.size()));
    frame.resize(ZSTD_compress(frame.data(), frame.size(), stream.data(), stream.size(), 1));
    std::vector<unsigned char> block = wrap_attached_data(frame);
    CheckedStub stub = checked_embedded_stub();
    ImagePlan plan = plan_image(stub, BuildTexts{u"{TEMP}\\x", u"c", u"p", u"1.0.0.0"}, {});
    write_image(plan, out / "damaged.exe",
                [&](const AttachedDataSink& sink) { sink(block.data(), block.size()); });
    ToolResult damaged = run_talvik_binary({"list", "--json", (out / "damaged.exe").string()});
    EXPECT_EQ(damaged.exit_status, 1);
    EXPECT_EQ(lines_of(damaged.err).size(), 1u) << damaged.err;
    json listed_damaged = json::parse(damaged.out);
    EXPECT_EQ(listed_damaged["entries"][0]["checksum_matches"], true);
    EXPECT_EQ(listed_damaged["entries"][1]["checksum_matches"], false);
    EXPECT_EQ(listed_damaged["entry_count"], 2);

    // Refused blocks stay one line on standard error.
    write_file(out / "junk.bin", std::string("KAY and nothing else"));
    ToolResult refused = run_talvik_binary({"pack", "--attached-data", (out / "junk.bin").string(), "-o",
                                            (out / "junk.exe").string(), "--json"});
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(lines_of(refused.err).size(), 1u) << refused.err;
}

TEST(JsonText, EveryNameIsOneValidString) {
    EXPECT_EQ(json_string(u"plain"), "\"plain\"");
    EXPECT_EQ(json_string(u"a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(json_string(u"\n\r\t\b\f\u0001\u001f"), "\"\\n\\r\\t\\b\\f\\u0001\\u001f\"");
    EXPECT_EQ(json_string(u"名\U0001F600"), "\"名\U0001F600\"") << "UTF-8, a surrogate pair as one";
    EXPECT_EQ(json_string(std::u16string(u"x") + char16_t(0xD800) + u"y"), "\"x\\ud800y\"");
    EXPECT_EQ(json_string(std::u16string(1, char16_t(0xDC00))), "\"\\udc00\"");
    EXPECT_EQ(json_string_from_utf8("bad \xff byte"), "\"bad \xEF\xBF\xBD byte\"");
    // What a real parser reads back is the text itself.
    std::u16string tricky = u"a\"\\\n";
    tricky += char16_t(0);
    tricky += u"\u007f\u2028名\U0001F600z";
    EXPECT_EQ(json::parse(json_string(tricky)).get<std::string>(), utf16_to_utf8(tricky));
}
