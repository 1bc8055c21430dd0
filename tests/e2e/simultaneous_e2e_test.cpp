// Launchers of one image running at the same time over one target directory, started by
// crowd.exe under Wine: every start succeeds, and every child (the probe, checking the
// CRC-32 of each file of its tree before it reports) finds the whole tree exact.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

constexpr char manifest_name[] = "manifest.txt";
constexpr char big_file_name[] = "0-big.bin";
// Written in 512 chunks of 32,768 bytes: long enough to stop a writer inside it.
constexpr size_t big_file_size = 16u << 20;
constexpr int folder_count = 12;
constexpr int files_per_folder = 20;

// Deterministic bytes that compress about half: the image stays small, decoding stays real.
std::string pattern(size_t length, uint32_t seed) {
    std::string text(length, '\0');
    uint32_t state = seed * 2654435761u | 1;
    for (char& c : text) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state % 23);
    }
    return text;
}

// An app folder of the probe, one big file, 240 small files two levels down, an empty
// file, and the manifest that the probe checks them against.
class SimultaneousStarts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(probe_exe()) || local_appdata().empty()) {
            GTEST_SKIP() << "needs the Windows build and an initialised Wine prefix";
        }
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        work = fresh_dir("simultaneous-" + name);
        fs::path app = work / "app";
        fs::create_directories(app);
        fs::copy_file(probe_exe(), app / "probe.exe");
        add(app, "probe.exe", read_file(probe_exe()));
        add(app, big_file_name, pattern(big_file_size, 1));
        for (int folder = 0; folder < folder_count; ++folder) {
            for (int file = 0; file < files_per_folder; ++file) {
                char relative[64];
                std::snprintf(relative, sizeof relative, "d%02d/s%d/f%02d.dat", folder, file % 3, file);
                add(app, relative,
                    pattern(64 + (folder * 7919 + file * 104729) % 40000, folder * 100 + file + 2));
            }
        }
        add(app, "empty.txt", "");
        write_file(app / manifest_name, manifest);
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

    void add(const fs::path& app, const std::string& relative, const std::string& contents) {
        write_file(app / relative, contents);
        files.push_back({relative, contents});
        std::string windows_name = relative;
        std::replace(windows_name.begin(), windows_name.end(), '/', '\\');
        char line[128];
        std::snprintf(
            line, sizeof line, "%08lX %zu %s\n",
            crc32(0, reinterpret_cast<const Bytef*>(contents.data()), static_cast<uInt>(contents.size())),
            contents.size(), windows_name.c_str());
        manifest += line;
    }

    // A launcher's outcome: its status is the child's, it printed nothing of its own,
    // and its child found the whole tree exact.
    void expect_exact_tree_seen(const Outcome& outcome, uint32_t status, const std::string& what) {
        EXPECT_EQ(outcome.exit_code, status) << what << "\n" << outcome.err;
        EXPECT_EQ(outcome.err, "") << what;
        ProbeReport report = parse_probe_report(outcome.out);
        EXPECT_TRUE(report.complete) << what << "\n" << outcome.out;
        EXPECT_EQ(report.fields["tree"], "exact") << what << "\n" << outcome.out;
        EXPECT_EQ(report.fields["tree-files"], std::to_string(files.size())) << what;
    }

    void expect_tree_on_disk() {
        for (const auto& [relative, contents] : files) {
            EXPECT_TRUE(read_file(target / relative) == contents) << relative;
        }
    }

    std::string command(const std::string& probe_options) const {
        return "Launcher.exe " + probe_options + " --verify-tree " + manifest_name;
    }

    std::string name;
    fs::path work;
    fs::path target;
    std::vector<std::pair<std::string, std::string>> files;
    std::string manifest;
};

TEST_F(SimultaneousStarts, SixteenColdStartsAllRunTheirChildOverAnExactTree) {
    ASSERT_GE(files.size(), 200u);
    CrowdOutcome crowd = run_crowd(work, "together", {"16", command("--exit 0x2A")});
    ASSERT_EQ(crowd.status, 0) << crowd.facts["crowd_errors"];
    ASSERT_EQ(crowd.processes.size(), 16u);
    for (size_t index = 0; index < crowd.processes.size(); ++index) {
        expect_exact_tree_seen(crowd.processes[index], 0x2A, "launcher " + std::to_string(index));
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
        expect_exact_tree_seen(crowd.processes[index], 0, "follower " + std::to_string(index));
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
    expect_exact_tree_seen(crowd.processes[1], 0, "second start");
    // The empty file counts as intact too, so not one file is written again.
    EXPECT_EQ(snapshot_tree(target), before);
}

} // namespace
