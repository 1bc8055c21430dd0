#include "tests/e2e/e2e_support.hpp"

#include <fcntl.h>
#include <glob.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace e2e {

namespace fs = std::filesystem;

fs::path win_build_dir() {
    return TALVIK_WIN_BUILD_DIR;
}
fs::path probe_exe() {
    return win_build_dir() / "tests" / "probe.exe";
}
fs::path wine_prefix() {
    return TALVIK_WINE_PREFIX;
}

fs::path local_appdata() {
    glob_t found{};
    std::string pattern = (wine_prefix() / "drive_c/users/*/AppData/Local").string();
    fs::path result;
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) {
            std::string candidate = found.gl_pathv[i];
            if (candidate.find("/Public/") == std::string::npos) {
                result = candidate;
            }
        }
    }
    globfree(&found);
    return result;
}

fs::path fresh_dir(const std::string& name) {
    fs::path dir = fs::path(TALVIK_E2E_WORK_DIR) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string windows_path(const fs::path& path) {
    std::string text = "Z:" + fs::absolute(path).lexically_normal().string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

namespace {

// Room for a window centred on a screen of the usual size.
constexpr char virtual_desktop_size[] = "1280x800";

// fork + exec with output to files; returns the process id (or -1).
pid_t spawn_process(const std::vector<std::string>& arguments, const fs::path& cwd,
                    const EnvironmentChanges& environment, const fs::path& out_file,
                    const fs::path& err_file) {
    pid_t child = fork();
    if (child == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        for (const auto& [name, value] : environment) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// The exit status of a spawned process (or -1).
int wait_for_process(pid_t child) {
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run_process(const std::vector<std::string>& arguments, const fs::path& cwd,
                const EnvironmentChanges& environment, const fs::path& out_file, const fs::path& err_file) {
    return wait_for_process(spawn_process(arguments, cwd, environment, out_file, err_file));
}

} // namespace

int run_command(const std::vector<std::string>& arguments, const fs::path& cwd, std::string* output) {
    fs::path dir = fs::path(TALVIK_E2E_WORK_DIR);
    fs::create_directories(dir);
    fs::path out = dir / ("command-" + std::to_string(getpid()) + ".out");
    int status = run_process(arguments, cwd, {}, out, out);
    if (output != nullptr) {
        *output = read_file(out);
    }
    fs::remove(out);
    return status;
}

int run_talvik(const std::vector<std::string>& arguments, std::string* output) {
    std::vector<std::string> command{TALVIK_TOOL};
    command.insert(command.end(), arguments.begin(), arguments.end());
    // Every test unpacks into a folder of its own beside the others' under one parent, and
    // most images are of one product (the probe's name): left to the default, a start of
    // one test would remove the tree of another that runs at the same time, between its
    // starts. Images that test the removal say what they want.
    if (!arguments.empty() && arguments[0] == "pack" &&
        std::none_of(arguments.begin(), arguments.end(),
                     [](const std::string& argument) { return argument.starts_with("--old-trees"); })) {
        command.insert(command.end(), {"--old-trees", "keep"});
    }
    command.push_back("--quiet");
    return run_command(command, {}, output);
}

Outcome run_windows(const fs::path& cwd, const std::string& command_line,
                    const EnvironmentChanges& environment, StandardHandles handles,
                    const std::vector<std::string>& runner_options) {
    return WindowsRun(cwd, command_line, environment, handles, "", runner_options).finish();
}

WindowsRun::WindowsRun(const fs::path& cwd, const std::string& command_line,
                       const EnvironmentChanges& environment, StandardHandles handles,
                       const std::string& desktop, const std::vector<std::string>& runner_options) {
    fs::path dir = fs::path(TALVIK_E2E_WORK_DIR);
    std::string tag = std::to_string(getpid()) + "-" + std::to_string(rand());
    out_ = dir / ("run-" + tag + ".out");
    err_ = dir / ("run-" + tag + ".err");
    code_ = dir / ("run-" + tag + ".code");
    EnvironmentChanges full = environment;
    full["WINEPREFIX"] = wine_prefix().string();
    full["WINEDEBUG"] = "-all";
    full["WINEDLLOVERRIDES"] = "mscoree,mshtml=";
    if (!environment.contains("DISPLAY")) {
        full["DISPLAY"] = std::nullopt;
    }
    full["WAYLAND_DISPLAY"] = std::nullopt;
    fs::path runner = win_build_dir() / "tests" / "runner.exe";
    std::vector<std::string> command{TALVIK_WINE_RUN, runner.string()};
    if (!desktop.empty()) {
        command = {TALVIK_WINE_RUN, "explorer", "/desktop=" + desktop + "," + virtual_desktop_size,
                   windows_path(runner)};
    }
    if (handles == StandardHandles::passed) {
        command.push_back("--pass-std-handles");
    } else if (handles == StandardHandles::none) {
        command.push_back("--no-std-handles");
    }
    command.insert(command.end(), runner_options.begin(), runner_options.end());
    command.insert(command.end(), {windows_path(code_), command_line});
    pid_ = spawn_process(command, cwd, full, out_, err_);
}

WindowsRun::~WindowsRun() {
    if (!waited_) {
        finish();
    }
}

bool WindowsRun::running() {
    if (waited_ || pid_ < 0) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) {
        return true;
    }
    waited_ = true;
    return false;
}

std::string WindowsRun::out_so_far() const {
    return read_file(out_);
}

std::string WindowsRun::err_so_far() const {
    return read_file(err_);
}

Outcome WindowsRun::finish() {
    if (!waited_) {
        wait_for_process(pid_);
        waited_ = true;
    }
    Outcome outcome;
    outcome.out = read_file(out_);
    outcome.err = read_file(err_);
    // The exit code, then the runner's "key=value" facts, a line each.
    std::istringstream code_lines(read_file(code_));
    std::string line;
    if (std::getline(code_lines, line) && line.rfind("0x", 0) == 0) {
        outcome.exit_code = static_cast<uint32_t>(std::stoul(line, nullptr, 16));
    }
    while (std::getline(code_lines, line)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos) {
            outcome.facts[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    fs::remove(out_);
    fs::remove(err_);
    fs::remove(code_);
    return outcome;
}

CrowdOutcome run_crowd(const fs::path& cwd, const std::string& mode,
                       const std::vector<std::string>& arguments) {
    fs::path dir = fs::path(TALVIK_E2E_WORK_DIR);
    std::string tag = std::to_string(getpid()) + "-" + std::to_string(rand());
    fs::path out_dir = dir / ("crowd-" + tag);
    fs::create_directories(out_dir);
    EnvironmentChanges environment{{"WINEPREFIX", wine_prefix().string()},
                                   {"WINEDEBUG", "-all"},
                                   {"WINEDLLOVERRIDES", "mscoree,mshtml="}};
    std::vector<std::string> command{TALVIK_WINE_RUN, (win_build_dir() / "tests" / "crowd.exe").string(),
                                     mode, windows_path(out_dir)};
    command.insert(command.end(), arguments.begin(), arguments.end());
    CrowdOutcome crowd;
    crowd.status = run_process(command, cwd, environment, out_dir / "crowd.out", out_dir / "crowd.err");
    for (int index = 0;; ++index) {
        fs::path base = out_dir / std::to_string(index);
        if (!fs::exists(fs::path(base).replace_extension(".out"))) {
            break;
        }
        Outcome outcome;
        outcome.out = read_file(fs::path(base).replace_extension(".out"));
        outcome.err = read_file(fs::path(base).replace_extension(".err"));
        std::string code_text = read_file(fs::path(base).replace_extension(".code"));
        if (code_text.rfind("0x", 0) == 0) {
            outcome.exit_code = static_cast<uint32_t>(std::stoul(code_text, nullptr, 16));
        }
        crowd.processes.push_back(outcome);
    }
    std::istringstream facts(read_file(out_dir / "crowd.txt"));
    std::string line;
    while (std::getline(facts, line)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos) {
            crowd.facts[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    std::string crowd_errors = read_file(out_dir / "crowd.err");
    if (!crowd_errors.empty()) {
        crowd.facts["crowd_errors"] = crowd_errors;
    }
    fs::remove_all(out_dir);
    return crowd;
}

std::string unescape_probe_text(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            result += text[i];
            continue;
        }
        char kind = text[++i];
        switch (kind) {
        case 'r':
            result += '\r';
            break;
        case 'n':
            result += '\n';
            break;
        case 't':
            result += '\t';
            break;
        case 'v':
            result += '\v';
            break;
        case 'x':
            result += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default:
            result += kind;
            break;
        }
    }
    return result;
}

ProbeReport parse_probe_report(const std::string& out) {
    ProbeReport report;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line == "end") {
            report.complete = true;
            continue;
        }
        if (line.rfind("env ", 0) == 0) {
            size_t equals = line.find('=');
            report.variables[line.substr(4, equals - 4)] = unescape_probe_text(line.substr(equals + 1));
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, equals);
        std::string value = unescape_probe_text(line.substr(equals + 1));
        if (key.rfind("argv[", 0) == 0) {
            report.argv.push_back(value);
        } else {
            report.fields[key] = value;
        }
    }
    return report;
}

std::string quote_argument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::vector<std::pair<std::string, int64_t>> snapshot_tree(const fs::path& root) {
    std::vector<std::pair<std::string, int64_t>> files;
    if (!fs::exists(root)) {
        return files;
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            auto time = entry.last_write_time().time_since_epoch();
            files.emplace_back(fs::relative(entry.path(), root).string(),
                               std::chrono::duration_cast<std::chrono::nanoseconds>(time).count());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace e2e
