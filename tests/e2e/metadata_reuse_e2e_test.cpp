// Images packed with --reuse-check metadata, run under Wine: the stamp that a complete start
// leaves in the tree, the warm start that trusts it, and every way it stops being trusted.
//
// A warm start that needs neither the decoder nor the entry files is shown with a copy of
// the image whose zstd frame is ruined while its identity stays: that copy can only succeed
// on the fast road, and fails with the decode message wherever the full road is taken.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.hpp"
#include "tests/e2e/verified_tree.hpp"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

constexpr char big_file_name[] = "0-big.bin";
constexpr size_t big_file_size = 16u << 20;
constexpr char stamp_name[] = ".talvik-stamp";
constexpr char lock_name[] = ".talvik-lock";
constexpr char decode_failure[] = "Error, couldn't decode attached data.\r\n";

class MetadataImage : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(probe_exe()) || local_appdata().empty()) {
            GTEST_SKIP() << "needs the Windows build and an initialised Wine prefix";
        }
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        work = fresh_dir("metadata-" + name);
        app = work / "app";
        tree.folder = app;
        fs::create_directories(app);
        fs::copy_file(probe_exe(), app / "probe.exe");
        tree.add("probe.exe", read_file(probe_exe()));
        tree.add(big_file_name, compressible_bytes(big_file_size, 1));
        for (int file = 0; file < 30; ++file) {
            char relative[64];
            std::snprintf(relative, sizeof relative, "d%d/s%d/f%02d.dat", file % 4, file % 3, file);
            tree.add(relative, compressible_bytes(100 + file * 997, file + 2));
        }
        tree.add("Data/Empty.txt", "");
        tree.write_manifest();
        target = local_appdata() / "TalvikE2E" / ("metadata-" + name);
        fs::remove_all(target);
        pack(app, "Launcher.exe");
        make_undecodable("Launcher.exe", "Undecodable.exe");
    }

    void TearDown() override {
        if (!target.empty()) {
            fs::remove_all(target);
        }
    }

    void pack(const fs::path& folder, const std::string& image, const std::string& reuse_check = "metadata") {
        std::string output;
        ASSERT_EQ(run_talvik({"pack", folder.string(), "-o", (work / image).string(), "--exe", "probe.exe",
                              "--level", "3", "--reuse-check", reuse_check, "--template",
                              "{CACHE_DIR}\\TalvikE2E\\metadata-" + name},
                             &output),
                  0)
            << output;
    }

    // The same image with its frame overwritten just past the frame header: the descriptor,
    // and so the identity, stay as they were.
    void make_undecodable(const std::string& image, const std::string& copy) {
        std::string bytes = read_file(work / image);
        size_t frame = bytes.find(std::string("KAY\x28\xB5\x2F\xFD", 7));
        ASSERT_NE(frame, std::string::npos);
        std::fill(bytes.begin() + static_cast<long>(frame) + 16,
                  bytes.begin() + static_cast<long>(frame) + 4096, '\x55');
        write_file(work / copy, bytes);
    }

    std::string command(const std::string& image = "Launcher.exe",
                        const std::string& probe_options = "") const {
        return image + " " + probe_options + " --verify-tree " + manifest_name;
    }

    // Whether the next start can take the fast road: only then does the ruined copy run.
    bool fast_road_open() {
        Outcome outcome = run_windows(work, command("Undecodable.exe", "--exit 0x5A"));
        if (outcome.exit_code == 0x5Au) {
            expect_exact_tree_seen(outcome, 0x5A, "fast road");
            return true;
        }
        EXPECT_EQ(outcome.exit_code, 2u);
        EXPECT_EQ(outcome.out, decode_failure) << "the full road, which cannot decode the ruined copy";
        return false;
    }

    void expect_tree_on_disk() {
        for (const auto& [relative, contents] : tree.files) {
            EXPECT_TRUE(read_file(target / relative) == contents) << relative;
        }
    }

    std::vector<std::string> leftover_temporaries() {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(target)) {
            std::string leaf = entry.path().filename().string();
            if (leaf.starts_with(".talvik-stamp-")) {
                found.push_back(leaf);
            }
        }
        return found;
    }

    std::string name;
    fs::path work;
    fs::path app;
    fs::path target;
    VerifiedTree tree;
};

TEST_F(MetadataImage, WarmStartOverAnIntactTreeNeedsNeitherDecoderNorEntryFiles) {
    // Before any complete start there is no stamp: the ruined copy has to decode, and fails.
    EXPECT_FALSE(fast_road_open());
    expect_exact_tree_seen(run_windows(work, command()), 0, "cold start");
    ASSERT_TRUE(fs::is_regular_file(target / stamp_name));
    EXPECT_EQ(leftover_temporaries(), std::vector<std::string>{});
    auto before = snapshot_tree(target);
    EXPECT_TRUE(fast_road_open());
    EXPECT_TRUE(fast_road_open()) << "the fast road leaves the stamp in place";
    EXPECT_EQ(snapshot_tree(target), before) << "nothing written, the stamp not rewritten";
    // Files the user adds, anywhere in the tree, are ignored as the CRC-32 check ignores them.
    write_file(target / "user-notes.txt", "mine");
    write_file(target / "d1" / "s1" / "extra.log", "mine too");
    EXPECT_TRUE(fast_road_open());
}

TEST_F(MetadataImage, CrcImageNeverTakesTheFastRoad) {
    pack(app, "Crc.exe", "crc");
    make_undecodable("Crc.exe", "CrcUndecodable.exe");
    expect_exact_tree_seen(run_windows(work, command("Crc.exe")), 0, "crc cold start");
    ASSERT_TRUE(fs::exists(target / stamp_name)) << "a crc image leaves the stamp too, for old-tree removal";
    // A metadata image of the same attached data trusts it; the crc image decodes whatever it says.
    EXPECT_TRUE(fast_road_open());
    Outcome outcome = run_windows(work, command("CrcUndecodable.exe"));
    EXPECT_EQ(outcome.exit_code, 2u);
    EXPECT_EQ(outcome.out, decode_failure);
}

// How a file can differ from the stamp: each makes the next start take the full road,
// which repairs it and leaves a stamp that the start after trusts again.
enum class Damage { deleted, truncated, retimed, grown_in_place, replaced_by_folder };

class DamagedTree : public MetadataImage, public ::testing::WithParamInterface<Damage> {};

std::string damage_name(const ::testing::TestParamInfo<Damage>& info) {
    static const char* const names[] = {"Deleted", "Truncated", "Retimed", "GrownInPlace",
                                        "ReplacedByFolder"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedTree,
                         ::testing::Values(Damage::deleted, Damage::truncated, Damage::retimed,
                                           Damage::grown_in_place, Damage::replaced_by_folder),
                         damage_name);

TEST_P(DamagedTree, NextStartTakesTheFullRoadAndRepairs) {
    expect_exact_tree_seen(run_windows(work, command()), 0, "cold start");
    ASSERT_TRUE(fast_road_open());
    const fs::path victim = target / "d2" / "s2" / "f14.dat";
    ASSERT_TRUE(fs::exists(victim));
    const auto old_time = fs::last_write_time(victim);
    switch (GetParam()) {
    case Damage::deleted:
        fs::remove(victim);
        break;
    case Damage::truncated:
        fs::resize_file(victim, 10);
        fs::last_write_time(victim, old_time);
        break;
    case Damage::retimed:
        fs::last_write_time(victim, old_time - std::chrono::hours(30));
        break;
    case Damage::grown_in_place:
        write_file(victim, read_file(victim) + "x");
        fs::last_write_time(victim, old_time);
        break;
    case Damage::replaced_by_folder:
        fs::remove(victim);
        fs::create_directories(victim);
        break;
    }
    EXPECT_FALSE(fast_road_open());
    if (GetParam() == Damage::replaced_by_folder) {
        // The full road cannot write a file where a folder stands: it stops, as a crc image
        // would, and the folder's removal then lets it repair the tree.
        Outcome blocked = run_windows(work, command());
        EXPECT_EQ(blocked.exit_code, 2u);
        EXPECT_FALSE(fs::exists(target / stamp_name)) << "a start that failed leaves no stamp";
        fs::remove(victim);
    }
    expect_exact_tree_seen(run_windows(work, command()), 0, "repairing start");
    expect_tree_on_disk();
    EXPECT_TRUE(fast_road_open()) << "the repairing start left a stamp of the repaired tree";
}

TEST_F(MetadataImage, StampOfAnotherImageOrOneThatDoesNotParseIsIgnored) {
    expect_exact_tree_seen(run_windows(work, command()), 0, "cold start");
    const std::string stamp = read_file(target / stamp_name);
    ASSERT_GT(stamp.size(), 40u);

    // Another image over the same tree: one more file, so other attached data.
    fs::path other_app = work / "other-app";
    fs::copy(app, other_app, fs::copy_options::recursive);
    write_file(other_app / "added.txt", "added");
    pack(other_app, "Other.exe");
    make_undecodable("Other.exe", "OtherUndecodable.exe");
    Outcome other = run_windows(work, command("OtherUndecodable.exe"));
    EXPECT_EQ(other.exit_code, 2u);
    EXPECT_EQ(other.out, decode_failure) << "the stamp names another image";

    // Cut at any point, or changed in one byte anywhere, the stamp never parses.
    std::vector<std::string> spoiled = {"", stamp.substr(0, 24), stamp.substr(0, stamp.size() - 1),
                                        stamp + "x", std::string(stamp.size(), '\0')};
    for (size_t at : {size_t{0}, size_t{9}, size_t{13}, size_t{17}, size_t{30}, stamp.size() - 1}) {
        std::string flipped = stamp;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x04);
        spoiled.push_back(flipped);
    }
    for (size_t index = 0; index < spoiled.size(); ++index) {
        write_file(target / stamp_name, spoiled[index]);
        EXPECT_FALSE(fast_road_open()) << "spoiled stamp " << index;
    }
    write_file(target / stamp_name, stamp);
    EXPECT_TRUE(fast_road_open()) << "the stamp itself is still good";
}

TEST_F(MetadataImage, LauncherKilledWhileWritingLeavesNoStamp) {
    expect_exact_tree_seen(run_windows(work, command()), 0, "cold start");
    ASSERT_TRUE(fs::exists(target / stamp_name));
    // The next start must write the big file again; it is stopped inside it.
    fs::remove(target / big_file_name);
    CrowdOutcome crowd =
        run_crowd(work, "kill-writer",
                  {windows_path(target / big_file_name), std::to_string(big_file_size), "0", command()});
    ASSERT_EQ(crowd.status, 0) << crowd.facts["crowd_errors"];
    ASSERT_EQ(crowd.processes.size(), 1u);
    EXPECT_EQ(crowd.processes[0].exit_code, 0xDEADu) << "the writer was killed";
    EXPECT_LT(fs::file_size(target / big_file_name), big_file_size);
    EXPECT_FALSE(fs::exists(target / stamp_name)) << "removed before the first write";
    EXPECT_FALSE(fast_road_open());
    expect_exact_tree_seen(run_windows(work, command()), 0, "repairing start");
    expect_tree_on_disk();
    EXPECT_TRUE(fast_road_open());
}

TEST_F(MetadataImage, SixteenColdStartsAllSucceedAndLeaveOneValidStamp) {
    CrowdOutcome crowd = run_crowd(work, "together", {"16", command("Launcher.exe", "--exit 0x2A")});
    ASSERT_EQ(crowd.status, 0) << crowd.facts["crowd_errors"];
    ASSERT_EQ(crowd.processes.size(), 16u);
    for (size_t index = 0; index < crowd.processes.size(); ++index) {
        expect_exact_tree_seen(crowd.processes[index], 0x2A, "launcher " + std::to_string(index));
    }
    expect_tree_on_disk();
    EXPECT_TRUE(fs::is_regular_file(target / stamp_name));
    EXPECT_EQ(leftover_temporaries(), std::vector<std::string>{});
    EXPECT_TRUE(fast_road_open());
}

TEST_F(MetadataImage, StartsOverAnIntactTreeNeverWaitForTheLock) {
    pack(app, "Crc.exe", "crc");
    expect_exact_tree_seen(run_windows(work, command()), 0, "cold start");
    const fs::path lock_file = target / lock_name;
    ASSERT_TRUE(fs::is_regular_file(lock_file)) << "the cold start wrote under the lock";
    fs::remove(lock_file);
    expect_exact_tree_seen(run_windows(work, command("Crc.exe")), 0, "crc warm start");
    expect_exact_tree_seen(run_windows(work, command()), 0, "metadata warm start");
    EXPECT_TRUE(fs::is_regular_file(lock_file)) << "every start marks the tree in use in it";

    // Beside a holder of the lock, a start that took it would wait out the patience and fail.
    auto beside_holder = [&](const std::string& line) {
        CrowdOutcome crowd = run_crowd(work, "hold-lock", {windows_path(lock_file), line});
        EXPECT_EQ(crowd.facts["lock_taken"], "1");
        return crowd.processes.size() == 1 ? crowd.processes[0] : Outcome{};
    };
    expect_exact_tree_seen(beside_holder(command("Crc.exe")), 0, "crc warm start beside a holder");
    expect_exact_tree_seen(beside_holder(command()), 0, "metadata warm start beside a holder");
    // A missing stamp is written only when the lock is free at once, else left to a later start.
    fs::remove(target / stamp_name);
    expect_exact_tree_seen(beside_holder(command()), 0, "start without a stamp beside a holder");
    EXPECT_FALSE(fs::exists(target / stamp_name));
    expect_exact_tree_seen(run_windows(work, command()), 0, "start without a stamp, alone");
    EXPECT_TRUE(fast_road_open()) << "the start before wrote the stamp, the lock being free";
}

TEST_F(MetadataImage, UnwritableStampChangesNothingButSpeed) {
    fs::create_directories(target / stamp_name);
    expect_exact_tree_seen(run_windows(work, command()), 0, "cold start");
    expect_tree_on_disk();
    auto before = snapshot_tree(target);
    expect_exact_tree_seen(run_windows(work, command()), 0, "warm start");
    EXPECT_EQ(snapshot_tree(target), before) << "the warm start checked by CRC-32 and wrote nothing";
    EXPECT_FALSE(fast_road_open());
    EXPECT_TRUE(fs::is_directory(target / stamp_name));
    EXPECT_EQ(leftover_temporaries(), std::vector<std::string>{});
}

} // namespace
