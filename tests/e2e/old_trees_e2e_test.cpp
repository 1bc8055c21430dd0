// Two images of one product, run in turn under Wine: a start removes the tree that the other
// left beside its own, but never one that a launcher still uses, never a file that it did
// not write as it stands, and never a folder that is not a tree of its product.
//
// Each test has a company of its own, so its images' default templates unpack into a
// product folder of its own in the build's Wine prefix: the versions' folders ("1.20" and
// "1.21", or each image's identity without --version) are the only siblings there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.hpp"
#include "tests/e2e/verified_tree.hpp"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

constexpr char stamp_name[] = ".talvik-stamp";
constexpr char product[] = "OrrinDeck";

class OldTrees : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (!fs::exists(probe_exe()) || local_appdata().empty()) {
            GTEST_SKIP() << "needs the Windows build and an initialised Wine prefix";
        }
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        company = "OldTrees" + std::to_string(std::hash<std::string>{}(name) % 1000000);
        work = fresh_dir("old-trees-" + name);
        parent = local_appdata() / company / product;
        fs::remove_all(local_appdata() / company);
        make_app(first, "app1", 1);
        make_app(second, "app2", 2);
        pack(first, "First.exe", "1.20");
        pack(second, "Second.exe", "1.21");
    }

    void TearDown() override {
        if (!company.empty()) {
            fs::remove_all(local_appdata() / company);
        }
    }

    bool versioned() const { return GetParam(); }

    // The probe, a few folders of files and the manifest; the seed makes each version's
    // contents its own.
    void make_app(VerifiedTree& tree, const std::string& folder, uint32_t seed) {
        tree.folder = work / folder;
        fs::create_directories(tree.folder);
        fs::copy_file(probe_exe(), tree.folder / "probe.exe");
        tree.add("probe.exe", read_file(probe_exe()));
        for (int file = 0; file < 24; ++file) {
            char relative[64];
            std::snprintf(relative, sizeof relative, "d%d/s%d/f%02d.dat", file % 3, file % 2, file);
            tree.add(relative, compressible_bytes(200 + file * 331, seed * 100 + file));
        }
        tree.add("empty.txt", "");
        tree.write_manifest();
    }

    // With --version only when the case is versioned: the folder is otherwise the identity.
    // Old trees go unless the options say otherwise.
    void pack(const VerifiedTree& tree, const std::string& image, const std::string& version,
              const std::vector<std::string>& options = {}) {
        std::vector<std::string> arguments{"pack",      tree.folder.string(),
                                           "-o",        (work / image).string(),
                                           "--exe",     "probe.exe",
                                           "--level",   "3",
                                           "--company", company,
                                           "--product", product};
        if (versioned()) {
            arguments.insert(arguments.end(), {"--version", version});
        }
        arguments.insert(arguments.end(), options.begin(), options.end());
        // Said, since run_talvik keeps old trees unless told (see there).
        if (std::none_of(options.begin(), options.end(),
                         [](const std::string& option) { return option == "--old-trees"; })) {
            arguments.insert(arguments.end(), {"--old-trees", "remove"});
        }
        std::string output;
        ASSERT_EQ(run_talvik(arguments, &output), 0) << output;
    }

    Outcome start(const std::string& image, const std::string& probe_options = "") {
        return run_windows(work, image + " " + probe_options + " --verify-tree " + manifest_name);
    }

    // The folders in the product folder.
    std::set<std::string> folders() const {
        std::set<std::string> found;
        if (fs::exists(parent)) {
            for (const auto& entry : fs::directory_iterator(parent)) {
                found.insert(entry.path().filename().string());
            }
        }
        return found;
    }

    // Starts image alone over what is there, and returns the folder it unpacked into.
    fs::path start_and_find(const std::string& image) {
        std::set<std::string> before = folders();
        expect_exact_tree_seen(start(image), 0, image);
        for (const std::string& folder : folders()) {
            if (fs::exists(parent / folder / stamp_name) && !before.contains(folder) &&
                read_file(parent / folder / stamp_name).find("TLVKSTMP") == 0) {
                return parent / folder;
            }
        }
        // A warm start: the folder of the image's own stamp is the one it used.
        return before.size() == 1 ? parent / *before.begin() : fs::path();
    }

    void expect_tree_whole(const fs::path& folder, const VerifiedTree& tree) {
        for (const auto& [relative, contents] : tree.files) {
            EXPECT_TRUE(fs::exists(folder / relative) && read_file(folder / relative) == contents)
                << relative;
        }
        EXPECT_TRUE(fs::is_regular_file(folder / stamp_name));
    }

    // Every file below folder, relative, with '/'.
    static std::set<std::string> files_below(const fs::path& folder) {
        std::set<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (!entry.is_directory()) {
                found.insert(fs::relative(entry.path(), folder).generic_string());
            }
        }
        return found;
    }

    std::string name;
    std::string company;
    fs::path work;
    fs::path parent;
    VerifiedTree first;
    VerifiedTree second;
};

TEST_P(OldTrees, EachVersionRemovesTheOtherOnesTreeAndRunsOverItsOwn) {
    fs::path first_tree = start_and_find("First.exe");
    ASSERT_FALSE(first_tree.empty());
    expect_tree_whole(first_tree, first);
    if (versioned()) {
        EXPECT_EQ(first_tree.filename(), "1.20");
    }
    fs::path second_tree = start_and_find("Second.exe");
    ASSERT_FALSE(second_tree.empty());
    EXPECT_FALSE(fs::exists(first_tree)) << "the first version's tree is gone";
    EXPECT_EQ(folders(), std::set<std::string>{second_tree.filename().string()}) << "nothing left aside";
    expect_tree_whole(second_tree, second);

    // Started in turn, they remove each other's trees: each start of the other is cold.
    fs::path again = start_and_find("First.exe");
    EXPECT_EQ(again, first_tree);
    EXPECT_FALSE(fs::exists(second_tree));
    EXPECT_EQ(folders(), std::set<std::string>{first_tree.filename().string()});
}

TEST_P(OldTrees, TreeInUseStaysWholeUntilALaterStart) {
    // The running first version keeps old trees: its own removal, once the second version has
    // ended, would take the second version's tree, which is not what this test is about.
    pack(first, "FirstKeeps.exe", "1.20", {"--old-trees", "keep"});
    fs::path first_tree = start_and_find("First.exe");
    ASSERT_FALSE(first_tree.empty());
    // The first version's child runs (sleeping) while the second version starts and ends.
    std::string event = "talvik-old-trees-" + name;
    CrowdOutcome crowd = run_crowd(work, "while-running",
                                   {event,
                                    "FirstKeeps.exe --quiet --ready-event " + event +
                                        " --sleep 4000 --verify-tree " + std::string(manifest_name),
                                    "Second.exe --verify-tree " + std::string(manifest_name)});
    ASSERT_EQ(crowd.status, 0);
    ASSERT_EQ(crowd.processes.size(), 2u);
    EXPECT_EQ(crowd.facts["first_still_running"], "1");
    EXPECT_EQ(crowd.processes[0].exit_code, 0u) << "the first version's child finished normally";
    expect_exact_tree_seen(crowd.processes[1], 0, "second version beside the running first");
    expect_tree_whole(first_tree, first);
    EXPECT_EQ(folders().size(), 2u) << "nothing moved aside";

    // Nobody uses it now: the next start of the second version removes it.
    start_and_find("Second.exe");
    EXPECT_FALSE(fs::exists(first_tree));
    EXPECT_EQ(folders().size(), 1u);
}

TEST_P(OldTrees, OnlyUnchangedFilesOfItsOwnProductGo) {
    fs::path first_tree = start_and_find("First.exe");
    ASSERT_FALSE(first_tree.empty());
    // The user adds files, the app rewrites one of its own.
    write_file(first_tree / "notes.txt", "mine");
    write_file(first_tree / "d1" / "s0" / "saved.cfg", "mine too");
    write_file(first_tree / "d2" / "s1" / "f05.dat", "changed by the app");
    // Beside the trees: a folder without a stamp, and the tree of another product.
    write_file(parent / "Unrelated" / "probe.exe", read_file(probe_exe()));
    write_file(parent / "Unrelated" / "d0" / "f.dat", "someone's");
    std::string output;
    ASSERT_EQ(
        run_talvik({"pack", first.folder.string(), "-o", (work / "Other.exe").string(), "--exe", "probe.exe",
                    "--level", "3", "--company", company, "--product", "Other Product", "--template",
                    "{CACHE_DIR}\\" + company + "\\" + product + "\\Other", "--old-trees", "keep"},
                   &output),
        0)
        << output;
    expect_exact_tree_seen(start("Other.exe"), 0, "another product beside");
    auto unrelated = snapshot_tree(parent / "Unrelated");
    auto other = snapshot_tree(parent / "Other");

    fs::path second_tree = start_and_find("Second.exe");
    ASSERT_FALSE(second_tree.empty());
    ASSERT_TRUE(fs::exists(first_tree))
        << "the folder stays, at its own name, with what was not written as is";
    EXPECT_EQ(files_below(first_tree),
              (std::set<std::string>{"d1/s0/saved.cfg", "d2/s1/f05.dat", "notes.txt"}));
    EXPECT_EQ(read_file(first_tree / "d2" / "s1" / "f05.dat"), "changed by the app");
    EXPECT_FALSE(fs::exists(first_tree / "d0")) << "folders left empty go";
    EXPECT_EQ(snapshot_tree(parent / "Unrelated"), unrelated);
    EXPECT_EQ(snapshot_tree(parent / "Other"), other);
    EXPECT_EQ(folders(), (std::set<std::string>{first_tree.filename().string(),
                                                second_tree.filename().string(), "Other", "Unrelated"}));
}

// Wine shows a Linux link to a folder as a reparse point, as Windows shows a junction.
TEST_P(OldTrees, LinksLeadingOutOfATreeAreNeverFollowed) {
    fs::path first_tree = start_and_find("First.exe");
    ASSERT_FALSE(first_tree.empty());
    // A folder of the tree moved out (times kept) and linked back: what the stamp lists there
    // is, through the link, as the stamp saw it.
    fs::path outside = work / "outside-d0";
    fs::rename(first_tree / "d0", outside);
    fs::create_directory_symlink(outside, first_tree / "d0");
    auto outside_before = snapshot_tree(outside);
    ASSERT_FALSE(outside_before.empty());
    // And a whole tree of the first version elsewhere, times kept, linked in as a sibling.
    fs::path elsewhere = work / "elsewhere";
    ASSERT_EQ(run_command({"/bin/cp", "-a", first_tree.string(), elsewhere.string()}, work), 0);
    fs::create_directory_symlink(elsewhere, parent / "linked");
    for (const auto& [relative, contents] : first.files) {
        ASSERT_TRUE(fs::exists(elsewhere / relative)) << relative;
    }

    start_and_find("Second.exe");
    EXPECT_EQ(snapshot_tree(outside), outside_before) << "nothing deleted through the link";
    EXPECT_TRUE(fs::is_symlink(first_tree / "d0")) << "the folder stays with the link";
    EXPECT_FALSE(fs::exists(first_tree / "probe.exe")) << "what lay in the tree itself went";
    EXPECT_TRUE(fs::is_symlink(parent / "linked"));
    for (const auto& [relative, contents] : first.files) {
        EXPECT_TRUE(fs::exists(elsewhere / relative)) << "a linked sibling is never removed: " << relative;
    }
}

TEST_P(OldTrees, KeepAndSpoiledStampsRemoveNothing) {
    pack(second, "SecondKeeps.exe", "1.21", {"--old-trees", "keep"});
    fs::path first_tree = start_and_find("First.exe");
    ASSERT_FALSE(first_tree.empty());
    auto before = snapshot_tree(first_tree);
    fs::path second_tree = start_and_find("SecondKeeps.exe");
    EXPECT_EQ(snapshot_tree(first_tree), before) << "--old-trees keep removes nothing";

    // Cut at any point, or changed in one byte anywhere, the stamp names no tree to remove.
    const std::string stamp = read_file(first_tree / stamp_name);
    ASSERT_GT(stamp.size(), 100u);
    std::vector<std::string> spoiled = {stamp.substr(0, 32), stamp.substr(0, stamp.size() - 1), stamp + "x"};
    for (size_t at : {size_t{0}, size_t{9}, size_t{13}, size_t{17}, size_t{26}, size_t{40}, size_t{80},
                      stamp.size() / 2, stamp.size() - 1}) {
        std::string flipped = stamp;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x04);
        spoiled.push_back(flipped);
    }
    for (size_t index = 0; index < spoiled.size(); ++index) {
        write_file(first_tree / stamp_name, spoiled[index]);
        auto spoiled_before = snapshot_tree(first_tree);
        expect_exact_tree_seen(start("Second.exe"), 0, "second version");
        EXPECT_EQ(snapshot_tree(first_tree), spoiled_before) << "spoiled stamp " << index;
    }
    write_file(first_tree / stamp_name, stamp);
    expect_exact_tree_seen(start("Second.exe"), 0, "second version");
    EXPECT_FALSE(fs::exists(first_tree)) << "the stamp itself was good";
}

TEST_P(OldTrees, RemovalCutShortIsFinishedByALaterStart) {
    fs::path first_tree = start_and_find("First.exe");
    ASSERT_FALSE(first_tree.empty());
    start_and_find("Second.exe");
    fs::path second_tree = parent / *folders().begin();
    // As a remover killed after the move aside, having deleted some files.
    start_and_find("First.exe");
    ASSERT_TRUE(fs::exists(first_tree));
    fs::path aside = parent / (".talvik-old-00001234-" + first_tree.filename().string());
    fs::rename(first_tree, aside);
    fs::remove_all(aside / "d0");
    expect_exact_tree_seen(start("Second.exe"), 0, "second version");
    EXPECT_EQ(folders(), std::set<std::string>{second_tree.filename().string()});
}

// Launchers of both versions at once over an empty cache: every child finds an exact tree
// of its own version, whatever the others remove meanwhile.
TEST_P(OldTrees, SixteenMixedStartsAllRunOverTheirOwnExactTree) {
    std::vector<std::string> lines;
    for (int index = 0; index < 16; ++index) {
        lines.push_back((index % 2 == 0 ? "First.exe" : "Second.exe") +
                        std::string(" --exit 0x2A --verify-tree ") + manifest_name);
    }
    CrowdOutcome crowd = run_crowd(work, "mixed", lines);
    ASSERT_EQ(crowd.status, 0);
    ASSERT_EQ(crowd.processes.size(), 16u);
    for (size_t index = 0; index < crowd.processes.size(); ++index) {
        expect_exact_tree_seen(crowd.processes[index], 0x2A, "start " + std::to_string(index),
                               (index % 2 == 0 ? first : second).files.size());
    }
    // Whatever is left is whole trees of either version.
    for (const std::string& folder : folders()) {
        EXPECT_FALSE(folder.starts_with(".talvik-old-")) << folder;
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, OldTrees, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Versioned" : "ByIdentity";
                         });

} // namespace
