// The options of talvik pack: values, defaults, spellings and mistakes.

#include "constants/image_descriptor.hpp"
#include "tests/tools/test_support.hpp"
#include "tools/app_folder/exclude_pattern.hpp"
#include "tools/pack/pack_options.hpp"

#include <gtest/gtest.h>

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
