// Images run under Wine with the probe as the application: the child ends with a killed
// launcher unless the image was packed with --child-outlives-launcher, and what the child
// starts lives on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

// How long a process that the test lets go may take to write its file: generous, since it
// ends at once when all goes well.
constexpr auto file_limit = std::chrono::seconds(60);
constexpr auto file_poll = std::chrono::milliseconds(50);
// The probe's exit code when it runs to its end.
constexpr char probe_own_exit[] = "0x00000007";

bool file_appears(const fs::path& path) {
    auto deadline = std::chrono::steady_clock::now() + file_limit;
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(file_poll);
    }
    return true;
}

class ChildLifetime : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(probe_exe()) || local_appdata().empty()) {
            GTEST_SKIP() << "needs the Windows build and an initialised Wine prefix";
        }
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        work = fresh_dir("child-" + name);
        fs::create_directories(work / "app");
        fs::copy_file(probe_exe(), work / "app" / "probe.exe");
        target = local_appdata() / "TalvikE2E" / ("child-" + name);
        fs::remove_all(target);
    }

    void TearDown() override {
        if (!target.empty()) {
            fs::remove_all(target);
        }
    }

    void pack(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments{"pack",       (work / "app").string(),
                                           "-o",         (work / "Launcher.exe").string(),
                                           "--template", "{CACHE_DIR}\\TalvikE2E\\child-" + name};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string output;
        ASSERT_EQ(run_talvik(arguments, &output), 0) << output;
    }

    // The launcher, killed by the runner once its child is running (and no sooner than a
    // second after its start), the child sleeping 8 s before it writes its file.
    Outcome run_and_kill_launcher() {
        std::string event = "talvik-e2e-ready-" + name + "-" + std::to_string(getpid());
        return run_windows(work,
                           "Launcher.exe --quiet --ready-event " + event + " --sleep 8000 --write-file " +
                               quote_argument(windows_path(after_sleep())) + " --exit 7",
                           {}, StandardHandles::inherited, {"--kill-once-ready", event});
    }

    fs::path after_sleep() const { return work / "after-sleep.txt"; }

    std::string name;
    fs::path work;
    fs::path target;
};

TEST_F(ChildLifetime, KilledLauncherEndsItsChildAtOnce) {
    pack();
    Outcome outcome = run_and_kill_launcher();
    ASSERT_TRUE(outcome.facts.contains("grandchild-exit")) << outcome.err;
    EXPECT_NE(outcome.facts["grandchild-exit"], "running");
    EXPECT_NE(outcome.facts["grandchild-exit"], probe_own_exit);
    EXPECT_FALSE(fs::exists(after_sleep())) << "the child slept to its end";
}

TEST_F(ChildLifetime, ChildOutlivesAKilledLauncherWhenPackedToDoSo) {
    pack({"--child-outlives-launcher"});
    Outcome outcome = run_and_kill_launcher();
    ASSERT_TRUE(outcome.facts.contains("grandchild-exit")) << outcome.err;
    EXPECT_EQ(outcome.facts["grandchild-exit"], probe_own_exit);
    EXPECT_TRUE(fs::exists(after_sleep()));
}

// The child starts a process of its own and ends; the launcher ends after it, closing the
// child's job. The grandchild waits for a file that the test writes only then.
TEST_F(ChildLifetime, WhatTheChildStartsLivesOnAfterTheLauncherExits) {
    pack();
    fs::path go = work / "go";
    fs::path done = work / "done";
    std::string grandchild = "--quiet --wait-file " + quote_argument(windows_path(go)) + " --write-file " +
                             quote_argument(windows_path(done));
    Outcome outcome =
        run_windows(work, "Launcher.exe --quiet --start-probe " + quote_argument(grandchild) + " --exit 5");
    ASSERT_EQ(outcome.exit_code, 5u) << outcome.err;
    write_file(go, "");
    EXPECT_TRUE(file_appears(done));
}

} // namespace
