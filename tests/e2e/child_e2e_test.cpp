// Images run under Wine with the probe as the application: the child ends with a killed
// launcher unless the image was packed with --child-outlives-launcher, what the child starts
// lives on, and the console that each kind of launcher leaves a console child.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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

std::vector<std::string> split_list(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    for (size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', start)) {
        items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    items.push_back(text.substr(start));
    return items;
}

bool contains(const std::vector<std::string>& items, const std::string& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
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

// The same images, asked about the console their child runs in.
class ChildConsole : public ChildLifetime {};

// A windowed launcher has no console; its console child gets one of its own that works but
// has no window, and still writes to the handles the launcher was given.
TEST_F(ChildConsole, WindowedLauncherGivesAConsoleChildNoConsoleWindow) {
    pack({"--windowed"});
    Outcome outcome =
        run_windows(work, "Launcher.exe --write-stderr \"to the error file\"", {}, StandardHandles::passed);
    ASSERT_EQ(outcome.exit_code, 0u) << outcome.err;
    ProbeReport report = parse_probe_report(outcome.out);
    ASSERT_TRUE(report.complete) << outcome.out;
    EXPECT_EQ(report.fields["console-window"], "none");
    EXPECT_NE(report.fields["console-screen"], "none") << "a console that answers";
    EXPECT_EQ(report.fields["console"], report.fields["pid"]) << "a console of its own";
    EXPECT_EQ(report.fields["stdout"], "disk");
    EXPECT_EQ(outcome.err, "to the error file\n");
}

// A console launcher's child shares the launcher's console, as it always has.
TEST_F(ChildConsole, ConsoleLauncherSharesItsConsoleWithTheChild) {
    pack();
    Outcome outcome =
        run_windows(work, "Launcher.exe", {}, StandardHandles::passed, {"--console-without-window"});
    ASSERT_EQ(outcome.exit_code, 0u) << outcome.err;
    ProbeReport report = parse_probe_report(outcome.out);
    ASSERT_TRUE(report.complete) << outcome.out;
    std::vector<std::string> attached = split_list(report.fields["console"]);
    EXPECT_TRUE(contains(attached, report.variables["TALVIK_ONEFILE_PARENT"])) << report.fields["console"];
    EXPECT_TRUE(contains(attached, report.fields["pid"])) << report.fields["console"];
    EXPECT_NE(report.fields["console-screen"], "none");
}

} // namespace
