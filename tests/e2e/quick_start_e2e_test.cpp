// The README's quick start, run as written: its three commands, taken from the README itself,
// in a folder of the test's own whose build/ is this build tree, against the demo app.

#include "tests/e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

const fs::path readme = fs::path(TALVIK_SOURCE_DIR) / "README.md";
constexpr char quick_start_heading[] = "## Pack and run an app in three commands";

// The commands of the first ```sh block after the heading, continued lines joined.
std::vector<std::string> quick_start_commands() {
    std::ifstream file(readme);
    std::string line;
    bool in_section = false;
    bool in_block = false;
    std::vector<std::string> commands;
    std::string pending;
    while (std::getline(file, line)) {
        if (!in_section) {
            in_section = line == quick_start_heading;
        } else if (!in_block) {
            in_block = line == "```sh";
        } else if (line == "```") {
            break;
        } else if (line.ends_with("\\")) {
            pending += line.substr(0, line.size() - 1);
        } else {
            commands.push_back(pending + line);
            pending.clear();
        }
    }
    return commands;
}

std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

} // namespace

TEST(QuickStart, TheReadmesThreeCommandsPackListAndRunTheDemoApp) {
    std::vector<std::string> commands = quick_start_commands();
    ASSERT_EQ(commands.size(), 3u) << "the README's quick start is three commands";
    fs::path demo_app = win_build_dir() / "demo-app";
    if (!fs::exists(demo_app / "orrin.exe")) {
        GTEST_SKIP() << "no demo app in " << demo_app;
    }
    fs::path work = fresh_dir("quick-start");
    fs::create_directory_symlink(win_build_dir().parent_path(), work / "build");
    // Its first start unpacks into the test prefix's cache folder; a tree that make demo left
    // there stays, one this test made goes.
    fs::path tree = local_appdata() / "FernwickStudio" / "Orrin-Deck" / "1.20";
    bool tree_was_there = fs::exists(tree);

    std::string script =
        "set -e\nexport WINEPREFIX=" + shell_quoted(wine_prefix().string()) +
        " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='\nunset DISPLAY WAYLAND_DISPLAY\n";
    for (const std::string& command : commands) {
        script += command + "\n";
    }
    std::string output;
    int status = run_command({"/bin/bash", "-c", script}, work, &output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("template  {CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20"), std::string::npos)
        << output;
    EXPECT_NE(output.find("Orrin Deck 1.20 - a card table in one file"), std::string::npos) << output;
    EXPECT_NE(output.find("[2] two players"), std::string::npos) << output;
    EXPECT_TRUE(fs::exists(work / "Orrin-Deck.exe"));
    if (!tree_was_there) {
        fs::remove_all(tree);
    }
}
