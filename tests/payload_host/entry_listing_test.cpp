// The host's reader of attached data, against the producer and against blocks made to hurt
// it; and the name rule it shares with the launcher.
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>

#include <stdexcept>
#include <string>
#include <vector>

#include "payload/entry_listing.hpp"
#include "payload/entry_name_check.hpp"
#include "payload/producer.hpp"
#include "tests/tools/hostile_blocks.hpp"

namespace {

bool stays(const std::u16string& name) {
    return entry_name_stays_in_tree(name.data(), name.size());
}

static_assert(entry_name_stays_in_tree(u"a\\b", 3));
static_assert(!entry_name_stays_in_tree(u"..", 2));

CompressionSettings quick() {
    CompressionSettings settings;
    settings.level = 1;
    settings.threads = 1;
    return settings;
}

// The message list_attached_data throws, or "(no error)"; the entries it handed over.
struct Listing {
    std::string error = "(no error)";
    std::vector<ListedEntry> entries;
    ListedStream stream;
};

Listing list(const std::vector<unsigned char>& block) {
    Listing listing;
    try {
        listing.stream =
            list_attached_data(block, [&](const ListedEntry& entry) { listing.entries.push_back(entry); });
    } catch (const std::runtime_error& error) {
        listing.error = error.what();
    }
    return listing;
}

} // namespace

TEST(EntryNameCheck, NamesInsideTheTreePass) {
    for (const std::u16string& name :
         {std::u16string(u"a"), std::u16string(u"app.exe"), std::u16string(u"a\\b\\c.txt"),
          std::u16string(u"..a"), std::u16string(u".a\\.b"), std::u16string(u"a b\\c d"),
          std::u16string(u"x..y"), std::u16string(u"\u6570\u636e\\\xD83D\xDE00.bin"),
          std::u16string(1023, u'n'), std::u16string(u"$"), std::u16string(u"a\\.talvik-stamp")}) {
        EXPECT_TRUE(stays(name)) << std::string(name.begin(), name.end());
    }
}

TEST(EntryNameCheck, NamesThatLeaveTheTreeOrAliasAnotherAreRefused) {
    for (const std::u16string& name :
         {// Absolute: the current drive's root, a UNC path, a device path.
          std::u16string(u"\\x"), std::u16string(u"\\\\server\\share\\x"), std::u16string(u"\\\\?\\C:\\x"),
          // A drive, relative or absolute, and a stream.
          std::u16string(u"C:x"), std::u16string(u"C:\\x"), std::u16string(u"a:b"), std::u16string(u"a\\b:"),
          // Empty components: trailing, doubled.
          std::u16string(u"a\\"), std::u16string(u"a\\\\b"),
          // Dots: the two relative names, anywhere, and names Windows trims to them.
          std::u16string(u"."), std::u16string(u".."), std::u16string(u"..\\..\\x.txt"),
          std::u16string(u"a\\..\\..\\x"), std::u16string(u"a\\.\\b"), std::u16string(u"a\\.."),
          std::u16string(u".. "), std::u16string(u"a\\...\\b"), std::u16string(u"x."), std::u16string(u"x "),
          // The other separator Windows knows.
          std::u16string(u"a/b"), std::u16string(u"../x"), std::u16string(u"/x")}) {
        EXPECT_FALSE(stays(name)) << std::string(name.begin(), name.end());
    }
    EXPECT_FALSE(entry_name_stays_in_tree(u"", 0));
}

TEST(EntryListing, ProducerBlocksListInOrderWithTheirDecodedLength) {
    std::vector<PayloadSource> sources = {
        {u"app.exe", {}, std::string(300000, 'a')}, {u"empty", {}, ""}, {u"d\\\u6570.txt", {}, "text"}};
    std::vector<unsigned char> block = build_attached_data(sources, quick());
    std::vector<std::uint64_t> progress;
    std::vector<ListedEntry> entries;
    ListedStream stream = list_attached_data(
        block, [&](const ListedEntry& entry) { entries.push_back(entry); },
        [&](std::uint64_t, std::uint64_t decoded) { progress.push_back(decoded); });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, u"app.exe");
    EXPECT_EQ(entries[1].size, 0u);
    EXPECT_EQ(entries[1].checksum, 1u);
    EXPECT_EQ(entries[2].name, u"d\\\u6570.txt");
    EXPECT_TRUE(entries[0].checksum_matches && entries[1].checksum_matches && entries[2].checksum_matches);
    EXPECT_EQ(stream.entries, 3u);
    EXPECT_EQ(stream.body_bytes, 300004u);
    EXPECT_EQ(stream.mismatches, 0u);
    EXPECT_EQ(stream.stream_length, build_entry_stream(sources).size());
    // A report per decoded window, growing, up to the whole stream.
    ASSERT_GE(progress.size(), 3u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), stream.stream_length);
}

TEST(EntryListing, NamesAreRefusedAsTheLauncherRefusesThem) {
    Listing longest = list(build_attached_data({{std::u16string(1023, u'n'), {}, "x"}}, quick()));
    EXPECT_EQ(longest.error, "(no error)");
    Listing too_long =
        list(build_attached_data({{u"first", {}, "1"}, {std::u16string(1024, u'n'), {}, "x"}}, quick()));
    EXPECT_EQ(too_long.error.rfind("entry 2's name is longer than the 1023 units a launcher takes: nnn", 0),
              0u)
        << too_long.error;
    EXPECT_EQ(too_long.entries.size(), 1u) << "entries before it were handed over as they came";

    Listing escaping = list(build_attached_data({{u"first", {}, "1"}, {u"..\\..\\x.txt", {}, "x"}}, quick()));
    EXPECT_EQ(escaping.error, "entry 2's name \"..\\..\\x.txt\" is one a launcher refuses: it holds a ':' or "
                              "'/', or a component that is empty or ends in a dot or blank");
    // Half a surrogate pair shows as U+FFFD in the message.
    Listing broken = list(build_attached_data({{u"\xD800:", {}, "x"}}, quick()));
    EXPECT_NE(broken.error.find("\"\xEF\xBF\xBD:\""), std::string::npos) << broken.error;
}

TEST(EntryListing, BlocksMadeToExpandEndWithAnError) {
    // The body declares 2^62 bytes; the frame holds 8 MiB of them.
    std::uint64_t decoded = 0;
    try {
        list_attached_data(
            endless_body_block(std::uint64_t{1} << 62, 64), [](const ListedEntry&) {},
            [&](std::uint64_t, std::uint64_t bytes) { decoded = bytes; });
        ADD_FAILURE() << "listed";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "the entry stream ends before its end marker");
    }
    EXPECT_EQ(decoded, 16u + (64u << 17));

    // Bytes after the end marker: the stream of one entry, then a second copy of it.
    std::vector<unsigned char> stream = build_entry_stream({{u"a", {}, "x"}});
    std::vector<unsigned char> doubled = stream;
    doubled.insert(doubled.end(), stream.begin(), stream.end());
    std::vector<unsigned char> frame(ZSTD_compressBound(doubled.size()));
    frame.resize(ZSTD_compress(frame.data(), frame.size(), doubled.data(), doubled.size(), 1));
    EXPECT_EQ(list(wrap_attached_data(frame)).error, "the entry stream goes on after its end marker");

    // The end marker alone is a valid stream of no entry.
    Listing empty = list(many_empty_entries_block(0, 20));
    EXPECT_EQ(empty.error, "(no error)");
    EXPECT_EQ(empty.stream.entries, 0u);
    EXPECT_EQ(empty.stream.stream_length, 2u);
}
