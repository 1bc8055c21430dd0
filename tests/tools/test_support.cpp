#include "tests/tools/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "talvik-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void write_file(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

void write_file(const fs::path& path, const std::vector<unsigned char>& contents) {
    write_file(path, std::string(contents.begin(), contents.end()));
}

std::vector<unsigned char> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

namespace {

RunningTool start_program(std::vector<std::string> argv_storage, const std::vector<std::string>& environment,
                          const fs::path& capture_folder, int stderr_fd) {
    RunningTool tool;
    tool.out_file = capture_folder / "out";
    tool.err_file = capture_folder / "err";
    std::vector<char*> argv;
    for (std::string& arg : argv_storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> env_storage;
    for (char** entry = environ; *entry; ++entry) {
        env_storage.push_back(*entry);
    }
    env_storage.insert(env_storage.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& entry : env_storage) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, tool.out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (stderr_fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stderr_fd, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, tool.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    }
    // Ctrl+C as a terminal sends it, whatever the test runner's own handling of SIGINT.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        throw std::runtime_error("cannot start " + argv_storage[0]);
    }
    tool.pid = pid;
    return tool;
}

} // namespace

fs::path talvik_binary() {
    return TALVIK_TOOL_PATH;
}

RunningTool start_talvik_binary(const std::vector<std::string>& args,
                                const std::vector<std::string>& environment, const fs::path& capture_folder,
                                int stderr_fd) {
    std::vector<std::string> argv = {TALVIK_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return start_program(argv, environment, capture_folder, stderr_fd);
}

ToolResult run_shell(const std::string& script, const std::vector<std::string>& environment) {
    ScratchFolder capture;
    std::vector<std::string> with_tool = environment;
    with_tool.push_back(std::string("TALVIK=") + TALVIK_TOOL_PATH);
    return wait_for(start_program({"/bin/sh", "-c", script}, with_tool, capture.path(), -1));
}

ToolResult wait_for(const RunningTool& tool) {
    int status = 0;
    rusage usage = {};
    wait4(tool.pid, &status, 0, &usage);
    ToolResult result;
    result.max_resident_kib = usage.ru_maxrss;
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    std::vector<unsigned char> out = read_file(tool.out_file), err = read_file(tool.err_file);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}

ToolResult run_talvik_binary(const std::vector<std::string>& args,
                             const std::vector<std::string>& environment) {
    ScratchFolder capture;
    return wait_for(start_talvik_binary(args, environment, capture.path()));
}

ToolResult run_talvik_on_terminal(const std::vector<std::string>& args,
                                  const std::vector<std::string>& environment) {
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    // Held open here until the program has ended, so that reads never see a closed side.
    int program_side = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    if (program_side < 0) {
        throw std::runtime_error("cannot open the pseudo-terminal");
    }
    ScratchFolder capture;
    RunningTool tool = start_talvik_binary(args, environment, capture.path(), program_side);
    std::string received;
    bool ended = false;
    int status = 0;
    while (true) {
        pollfd ready = {terminal, POLLIN, 0};
        if (poll(&ready, 1, ended ? 0 : 50) > 0 && (ready.revents & POLLIN)) {
            char buffer[4096];
            ssize_t got = read(terminal, buffer, sizeof buffer);
            if (got > 0) {
                received.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
        }
        if (ended) {
            break;
        }
        ended = waitpid(tool.pid, &status, WNOHANG) == tool.pid;
    }
    close(program_side);
    close(terminal);
    ToolResult result;
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    std::vector<unsigned char> out = read_file(tool.out_file);
    result.out.assign(out.begin(), out.end());
    result.err = received;
    return result;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> files_below(const fs::path& folder) {
    std::vector<std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        files.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

const fs::path win_build_dir = TALVIK_WIN_BUILD_DIR;
const fs::path stub_image = win_build_dir / "talvik-stub.exe";

std::string tiny_pe() {
    std::string pe(128, '\0');
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 64;
    pe.replace(64, 4, std::string("PE\0\0", 4));
    return pe;
}

void expect_one_error_line(const ToolResult& result, const std::string& message) {
    EXPECT_EQ(result.exit_status, 1);
    std::vector<std::string> lines = lines_of(result.err);
    ASSERT_EQ(lines.size(), 1u) << result.err;
    EXPECT_EQ(lines[0].rfind("talvik: error: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(message), std::string::npos) << lines[0];
}
