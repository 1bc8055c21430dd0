// The progress window of a slow start, watched on an X server of the test's own: images packed
// by talvik around the windowed probe, run under Wine in a virtual desktop of their own while
// the test looks at the screen every few milliseconds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.hpp"
#include "tests/e2e/verified_tree.hpp"
#include "tests/e2e/virtual_display.hpp"

namespace {

namespace fs = std::filesystem;
using namespace e2e;
using Clock = std::chrono::steady_clock;

constexpr char product[] = "Orrin Deck";
// A big app: 100 MB that do not compress, in 16,000 files of 6,400 bytes in 160 folders (the
// shape of a node app's modules), so that a cold start unpacks for seconds under Wine.
constexpr size_t big_app_folders = 160;
constexpr size_t big_app_files_per_folder = 100;
constexpr size_t big_app_file_size = 6400;
// How often the test looks at the screen and at what the run has written.
constexpr auto look_interval = std::chrono::milliseconds(25);
// How long the window may have been up before the test takes its picture: long enough for
// its first paint.
constexpr double screenshot_after_s = 0.4;
// The picture the README shows, beside the test's other files.
constexpr char screenshot_name[] = "progress-window.png";

fs::path windowed_probe_exe() {
    return win_build_dir() / "tests" / "probe-windowed.exe";
}

// What the test saw while one start ran, in the order it happens when all goes well.
struct Watch {
    Outcome outcome;
    bool window_seen = false;
    double window_seen_at_s = 0; // after the run was started
    bool child_reported_when_window_seen = false;
    bool child_report_seen = false;
    bool window_up_when_child_reported = false;
    bool window_gone = false;
    bool window_gone_while_run_went_on = false;
    bool child_idle_when_window_gone = false;
    bool window_back_after_gone = false;
    bool screenshot_taken = false;
};

bool probe_reported(const std::string& out) {
    return parse_probe_report(out).complete;
}

class ProgressWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(windowed_probe_exe()) || local_appdata().empty()) {
            GTEST_SKIP() << "needs the Windows build and an initialised Wine prefix";
        }
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        work = fresh_dir("ProgressWindow-" + name);
        app = work / "app";
        fs::create_directories(app);
        fs::copy_file(windowed_probe_exe(), app / "probe.exe");
        target = local_appdata() / "TalvikE2E" / ("ProgressWindow-" + name);
        fs::remove_all(target);
    }

    void TearDown() override {
        // The big files go; the picture and the rest stay for a look after a failure.
        fs::remove_all(target);
        fs::remove_all(app);
        for (const fs::path& image : images) {
            fs::remove(image);
        }
    }

    void add_big_files() {
        for (size_t folder = 0; folder < big_app_folders; ++folder) {
            for (size_t file = 0; file < big_app_files_per_folder; ++file) {
                write_file(app / "modules" / std::to_string(folder) / (std::to_string(file) + ".bin"),
                           incompressible_bytes(big_app_file_size, folder * big_app_files_per_folder + file));
            }
        }
    }

    // Packs the app folder at the fastest level (the data does not compress anyway).
    fs::path pack(const std::string& image_name, std::vector<std::string> extra = {}) {
        fs::path image = work / image_name;
        std::vector<std::string> arguments{
            "pack",  app.string(), "-o", image.string(), "--product",
            product, "--level",    "1",  "--template",   "{CACHE_DIR}\\TalvikE2E\\ProgressWindow-" + name};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string output;
        EXPECT_EQ(run_talvik(arguments, &output), 0) << output;
        images.push_back(image);
        return image;
    }

    // Starts the image with the probe's options on the test's display, in a virtual desktop
    // of its own, and watches the screen until the run ends. A windowed image gets the
    // runner's standard handles, as its kind needs.
    Watch watch(const VirtualDisplay& display, const fs::path& image, const std::string& probe_options,
                bool windowed, bool take_screenshot = false) {
        Watch seen;
        // A desktop of its own for every start: one that the last start left may still be closing.
        std::string desktop = "talvik-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++starts);
        WindowsRun run(work, image.filename().string() + " " + probe_options, {{"DISPLAY", display.name()}},
                       windowed ? StandardHandles::passed : StandardHandles::inherited, desktop);
        Clock::time_point started = Clock::now();
        for (;;) {
            std::vector<std::string> windows = display.windows_titled(product);
            bool reported = probe_reported(run.out_so_far());
            bool idle = run.err_so_far().find("idle\n") != std::string::npos;
            bool running = run.running();
            double now_s = std::chrono::duration<double>(Clock::now() - started).count();
            if (!windows.empty()) {
                if (!seen.window_seen) {
                    seen.window_seen = true;
                    seen.window_seen_at_s = now_s;
                    seen.child_reported_when_window_seen = reported;
                } else if (seen.window_gone) {
                    seen.window_back_after_gone = true;
                }
                if (take_screenshot && !seen.screenshot_taken &&
                    now_s - seen.window_seen_at_s >= screenshot_after_s) {
                    seen.screenshot_taken = display.screenshot(windows.front(), work / screenshot_name);
                }
            } else if (seen.window_seen && !seen.window_gone) {
                seen.window_gone = true;
                seen.window_gone_while_run_went_on = running;
                seen.child_idle_when_window_gone = idle;
            }
            if (reported && !seen.child_report_seen) {
                seen.child_report_seen = true;
                seen.window_up_when_child_reported = !windows.empty();
            }
            if (!running) {
                break;
            }
            std::this_thread::sleep_for(look_interval);
        }
        seen.outcome = run.finish();
        return seen;
    }

    std::string name;
    fs::path work;
    fs::path app;
    fs::path target;
    int starts = 0;
    std::vector<fs::path> images;
};

#define REQUIRE_DISPLAY(display)                                                                             \
    if ((display).name().empty()) {                                                                          \
        GTEST_SKIP() << "needs Xvfb (scripts/setup.sh installs it)";                                         \
    }

void expect_child_ran(const Outcome& outcome, const std::string& expected_err = "") {
    EXPECT_EQ(outcome.exit_code, 0u) << outcome.out << outcome.err;
    EXPECT_TRUE(probe_reported(outcome.out)) << outcome.out;
    EXPECT_EQ(outcome.err, expected_err);
}

TEST_F(ProgressWindow, SlowColdStartShowsItUntilTheChildIsReadyForInput) {
    VirtualDisplay display;
    REQUIRE_DISPLAY(display);
    add_big_files();
    fs::path image = pack("Big.exe", {"--windowed"});
    // The probe reports at once, asks for input three seconds later, then runs on for four.
    Watch seen = watch(display, image, "--idle-after 3000 --sleep 4000", true, true);

    expect_child_ran(seen.outcome, "idle\n");
    ASSERT_TRUE(seen.window_seen) << "no window titled \"" << product << "\"";
    RecordProperty("window_seen_after_ms", static_cast<int>(seen.window_seen_at_s * 1000));
    EXPECT_FALSE(seen.child_reported_when_window_seen) << "up while the start is still unpacking";
    EXPECT_TRUE(seen.window_up_when_child_reported) << "still up once the child runs, not yet ready";
    EXPECT_TRUE(seen.window_gone);
    EXPECT_TRUE(seen.child_idle_when_window_gone) << "not gone before the child is ready for input";
    EXPECT_TRUE(seen.window_gone_while_run_went_on) << "gone while the child still runs";
    EXPECT_FALSE(seen.window_back_after_gone);
    ASSERT_TRUE(seen.screenshot_taken);
    std::ifstream picture(work / screenshot_name, std::ios::binary);
    std::string signature(8, '\0');
    picture.read(signature.data(), 8);
    EXPECT_EQ(signature, "\x89PNG\r\n\x1a\n");
}

TEST_F(ProgressWindow, ChildThatNeverAsksForInputEndsItWithinItsBound) {
    VirtualDisplay display;
    REQUIRE_DISPLAY(display);
    add_big_files();
    fs::path image = pack("Big.exe", {"--windowed"});
    // Fifteen seconds without a wait on its message queue: the window goes after ten.
    Watch seen = watch(display, image, "--sleep 15000", true);

    expect_child_ran(seen.outcome);
    ASSERT_TRUE(seen.window_seen);
    EXPECT_TRUE(seen.window_up_when_child_reported);
    EXPECT_TRUE(seen.window_gone);
    EXPECT_TRUE(seen.window_gone_while_run_went_on) << "the wait for the child is bounded";
}

TEST_F(ProgressWindow, NoProgressImageShowsNone) {
    VirtualDisplay display;
    REQUIRE_DISPLAY(display);
    add_big_files();
    fs::path image = pack("Big.exe", {"--windowed", "--no-progress"});
    Watch seen = watch(display, image, "--sleep 2500", true);

    expect_child_ran(seen.outcome);
    EXPECT_FALSE(seen.window_seen);
}

TEST_F(ProgressWindow, ConsoleImageShowsNone) {
    VirtualDisplay display;
    REQUIRE_DISPLAY(display);
    add_big_files();
    fs::path image = pack("Big.exe");
    Watch seen = watch(display, image, "--sleep 2500", false);

    expect_child_ran(seen.outcome);
    EXPECT_FALSE(seen.window_seen);
}

TEST_F(ProgressWindow, WarmStartOfASmallAppShowsNone) {
    VirtualDisplay display;
    REQUIRE_DISPLAY(display);
    write_file(app / "data" / "deck.txt", "a small app\n");
    fs::path image = pack("Small.exe", {"--windowed"});
    expect_child_ran(watch(display, image, "", true).outcome);
    // The child runs on for longer than a window, once shown, would stay for it.
    Watch seen = watch(display, image, "--sleep 2500", true);

    expect_child_ran(seen.outcome);
    EXPECT_FALSE(seen.window_seen);
}

// Without a display no window can open: the slow start runs as any other, prints nothing of
// its own, and ends with its child.
TEST_F(ProgressWindow, WithoutADisplayASlowStartRunsAsBefore) {
    add_big_files();
    fs::path image = pack("Big.exe", {"--windowed"});
    Outcome outcome = run_windows(work, "Big.exe --exit 7", {}, StandardHandles::passed);

    EXPECT_EQ(outcome.exit_code, 7u) << outcome.out << outcome.err;
    EXPECT_TRUE(probe_reported(outcome.out)) << outcome.out;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(read_file(target / "modules" / "159" / "99.bin"),
              incompressible_bytes(big_app_file_size, big_app_folders * big_app_files_per_folder - 1));
}

} // namespace
