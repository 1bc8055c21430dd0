#include "tests/e2e/virtual_display.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "tests/e2e/e2e_support.hpp"

namespace e2e {

namespace fs = std::filesystem;

namespace {

constexpr char xvfb[] = "/usr/bin/Xvfb";
constexpr char xwininfo[] = "/usr/bin/xwininfo";
constexpr char import_tool[] = "/usr/bin/import";
// A generous bound on the server's start on a loaded machine.
constexpr int xvfb_start_bound_ms = 30000;

// The title of one line of `xwininfo -tree`: `     0x1a00001 "Title": ("class" "Class") ...`.
bool parse_tree_line(const std::string& line, std::string& id, std::string& title) {
    std::istringstream words(line);
    if (!(words >> id) || id.rfind("0x", 0) != 0) {
        return false;
    }
    size_t open = line.find(" \"");
    size_t close = line.find("\": (");
    if (open == std::string::npos || close == std::string::npos || close < open + 2) {
        return false;
    }
    title = line.substr(open + 2, close - open - 2);
    return true;
}

} // namespace

VirtualDisplay::VirtualDisplay() {
    if (access(xvfb, X_OK) != 0) {
        return;
    }
    int ready[2];
    if (pipe(ready) != 0) {
        return;
    }
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 0);
        dup2(quiet, 1);
        dup2(quiet, 2);
        std::string fd = std::to_string(ready[1]);
        // -displayfd: the server takes the first free display number and writes it there
        // once it accepts clients.
        execl(xvfb, xvfb, "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    if (child < 0) {
        close(ready[0]);
        return;
    }
    pid_ = child;
    std::string number;
    pollfd waiting{ready[0], POLLIN, 0};
    char c = 0;
    while (poll(&waiting, 1, xvfb_start_bound_ms) == 1 && read(ready[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(ready[0]);
    if (!number.empty()) {
        name_ = ":" + number;
    }
}

VirtualDisplay::~VirtualDisplay() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::vector<std::string> VirtualDisplay::windows_titled(const std::string& title) const {
    std::vector<std::string> found;
    std::string tree;
    if (name_.empty() || run_command({xwininfo, "-display", name_, "-root", "-tree"}, {}, &tree) != 0) {
        return found;
    }
    std::istringstream lines(tree);
    std::string line;
    while (std::getline(lines, line)) {
        std::string id;
        std::string shown_title;
        if (!parse_tree_line(line, id, shown_title) || shown_title != title) {
            continue;
        }
        std::string details;
        if (run_command({xwininfo, "-display", name_, "-id", id}, {}, &details) == 0 &&
            details.find("Map State: IsViewable") != std::string::npos) {
            found.push_back(id);
        }
    }
    return found;
}

bool VirtualDisplay::screenshot(const std::string& window_id, const fs::path& file) const {
    return !name_.empty() &&
           run_command({import_tool, "-display", name_, "-window", window_id, file.string()}, {}) == 0 &&
           fs::exists(file);
}

} // namespace e2e
