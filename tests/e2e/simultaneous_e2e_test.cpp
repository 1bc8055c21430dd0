// Launchers of one image running at the same time over one target directory, started by
// crowd.exe under Wine: every start succeeds, and every child (the probe, checking the
// CRC-32 of each file of its tree before it reports) finds the whole tree exact; a launcher
// that waits for a writer that has stopped gives up after the lock's patience, harming
// nothing; and nothing that others name after the directory stands in the way.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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
// Written in 512 chunks of 32,768 bytes: long enough to stop a writer inside it.
constexpr size_t big_file_size = 16u << 20;
constexpr int folder_count = 12;
// How long a launcher waits for a writer that shows no progress (the image's figure), and
// the most that starting and ending such a launcher may add to it on a busy machine.
constexpr unsigned long long lock_patience_ms = 30000;
constexpr unsigned long long start_and_end_allowance_ms = 15000;
constexpr int files_per_folder = 20;

// An app folder of the probe, one big file, 240 small files two levels down, an empty
// file, and the manifest that the probe checks them against.
class SimultaneousStarts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(probe_exe()) || local_appdata().empty()) {
            GTEST_SKIP() << "needs the Windows build and an initialised Wine prefix";
        }
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        // A parameterised case's name holds a '/', which would be a folder level.
        std::replace(name.begin(), name.end(), '/', '-');
        work = fresh_dir("simultaneous-" + name);
        fs::path app = work / "app";
        tree.folder = app;
        fs::create_directories(app);
        fs::copy_file(probe_exe(), app / "probe.exe");
        tree.add("probe.exe", read_file(probe_exe()));
        tree.add(big_file_name, compressible_bytes(big_file_size, 1));
        for (int folder = 0; folder < folder_count; ++folder) {
            for (int file = 0; file < files_per_folder; ++file) {
                char relative[64];
                std::snprintf(relative, sizeof relative, "d%02d/s%d/f%02d.dat", folder, file % 3, file);
                tree.add(relative, compressible_bytes(64 + (folder * 7919 + file * 104729) % 40000,
                                                      folder * 100 + file + 2));
            }
        }
        tree.add("empty.txt", "");
        tree.write_manifest();
        target = local_appdata() / "TalvikE2E" / name;
        fs::remove_all(target);
        std::string output;
        ASSERT_EQ(run_talvik({"pack", app.string(), "-o", (work / "Launcher.exe").string(), "--exe",
                              "probe.exe", "--level", "3", "--template", "{CACHE_DIR}\\TalvikE2E\\" + name},
                             &output),
                  0)
            << output;
    }

    void TearDown() override {
        if (!target.empty()) {
            fs::remove_all(target);
        }
    }

    void expect_tree_on_disk() {
        for (const auto& [relative, contents] : tree.files) {
            EXPECT_TRUE(read_file(target / relative) == contents) << relative;
        }
    }

    std::string command(const std::string& probe_options) const {
        return "Launcher.exe " + probe_options + " --verify-tree " + manifest_name;
    }

    std::string name;
    fs::path work;
    fs::path target;
    VerifiedTree tree;
};

TEST_F(SimultaneousStarts, SixteenColdStartsAllRunTheirChildOverAnExactTree) {
    ASSERT_GE(tree.files.size(), 200u);
    CrowdOutcome crowd = run_crowd(work, "together", {"16", command("--exit 0x2A")});
    ASSERT_EQ(crowd.status, 0) << crowd.facts["crowd_errors"];
    ASSERT_EQ(crowd.processes.size(), 16u);
    for (size_t index = 0; index < crowd.processes.size(); ++index) {
        expect_exact_tree_seen(crowd.processes[index], 0x2A, "launcher " + std::to_string(index),
                               tree.files.size());
    }
    expect_tree_on_disk();
}

TEST_F(SimultaneousStarts, WriterKilledInsideAFileLeavesItToTheLaunchersWaitingForIt) {
    const std::string watched = windows_path(target / big_file_name);
    CrowdOutcome crowd =
        run_crowd(work, "kill-writer", {watched, std::to_string(big_file_size), "3", command("")});
    ASSERT_EQ(crowd.status, 0) << crowd.facts["crowd_errors"];
    // The writer was stopped inside the big file, and all three others were still running a
    // while later: none wrote the file beside it or ran its child over a part of it.
    const unsigned long long cut_at = std::stoull(crowd.facts["writer_cut_at"]);
    EXPECT_GT(cut_at, 0u);
    EXPECT_LT(cut_at, big_file_size);
    EXPECT_EQ(crowd.facts["followers_waited"], "1");
    ASSERT_EQ(crowd.processes.size(), 4u);
    EXPECT_EQ(crowd.processes[0].exit_code, 0xDEADu) << "the writer was killed";
    for (size_t index = 1; index < crowd.processes.size(); ++index) {
        expect_exact_tree_seen(crowd.processes[index], 0, "follower " + std::to_string(index),
                               tree.files.size());
    }
    expect_tree_on_disk();
}

TEST_F(SimultaneousStarts, WriterSuspendedInsideAFileIsGivenUpByItsFollowersAndThenFinishes) {
    // The second follower reaches the tree through another spelling: Wine's drive Z: is the
    // Linux root, C: its prefix's drive_c.
    std::string output;
    ASSERT_EQ(run_talvik({"pack", tree.folder.string(), "-o", (work / "Elsewhere.exe").string(), "--exe",
                          "probe.exe", "--level", "3", "--template", windows_path(target)},
                         &output),
              0)
        << output;
    const std::string watched = windows_path(target / big_file_name);
    CrowdOutcome crowd = run_crowd(work, "suspend-writer",
                                   {watched, std::to_string(big_file_size), command(""), command(""),
                                    "Elsewhere.exe --verify-tree " + std::string(manifest_name)});
    ASSERT_EQ(crowd.status, 0) << crowd.facts["crowd_errors"];
    ASSERT_EQ(crowd.processes.size(), 3u);
    EXPECT_EQ(crowd.facts["followers_ended"], "1");
    const unsigned long long waited = std::stoull(crowd.facts["followers_longest_ms"]);
    EXPECT_GE(waited, lock_patience_ms);
    EXPECT_LE(waited, lock_patience_ms + start_and_end_allowance_ms);
    EXPECT_EQ(crowd.facts["writer_size_after_followers"], crowd.facts["writer_cut_at"])
        << "nothing written beside the stopped writer";
    for (size_t index = 1; index < crowd.processes.size(); ++index) {
        const Outcome& follower = crowd.processes[index];
        EXPECT_EQ(follower.exit_code, 2u) << index;
        EXPECT_EQ(follower.out, "") << index;
        EXPECT_TRUE(follower.err.starts_with("Error, couldn't lock target directory ([Error 33] ") &&
                    follower.err.ends_with(")\r\n"))
            << index << ": " << follower.err;
    }
    expect_exact_tree_seen(crowd.processes[0], 0, "the writer, resumed", tree.files.size());
    expect_exact_tree_seen(run_windows(work, command("")), 0, "the next start", tree.files.size());
    expect_tree_on_disk();
}

// The named objects that launchers once took as their lock, made and held by another
// process before the launchers start: a mutex it owns for ever, or objects of the other
// kind under each name.
class OldLockNames : public SimultaneousStarts, public ::testing::WithParamInterface<const char*> {};
INSTANTIATE_TEST_SUITE_P(Squatters, OldLockNames, ::testing::Values("held-mutex", "event"));

TEST_P(OldLockNames, ChangeNothingForColdStartsTogether) {
    CrowdOutcome crowd =
        run_crowd(work, "squat", {GetParam(), "TalvikE2E\\" + name, "8", command("--exit 0x2A")});
    ASSERT_EQ(crowd.status, 0) << crowd.facts["crowd_errors"];
    EXPECT_EQ(crowd.facts["squatted"], "1");
    EXPECT_EQ(crowd.facts["ended_in_time"], "1");
    ASSERT_EQ(crowd.processes.size(), 8u);
    for (size_t index = 0; index < crowd.processes.size(); ++index) {
        expect_exact_tree_seen(crowd.processes[index], 0x2A, "launcher " + std::to_string(index),
                               tree.files.size());
    }
    expect_tree_on_disk();
}

TEST_F(SimultaneousStarts, StartWhileAnotherChildRunsWritesNothing) {
    ASSERT_EQ(run_windows(work, "Launcher.exe --quiet").exit_code, 0u);
    auto before = snapshot_tree(target);
    const std::string event = "talvik-e2e-ready-" + std::to_string(getpid());
    CrowdOutcome crowd =
        run_crowd(work, "while-running",
                  {event, "Launcher.exe --quiet --ready-event " + event + " --sleep 5000", command("")});
    ASSERT_EQ(crowd.status, 0) << crowd.facts["crowd_errors"];
    EXPECT_EQ(crowd.facts["first_ready"], "1");
    EXPECT_EQ(crowd.facts["first_still_running"], "1");
    ASSERT_EQ(crowd.processes.size(), 2u);
    EXPECT_EQ(crowd.processes[0].exit_code, 0u);
    expect_exact_tree_seen(crowd.processes[1], 0, "second start", tree.files.size());
    // The empty file counts as intact too, so not one file is written again.
    EXPECT_EQ(snapshot_tree(target), before);
}

} // namespace
