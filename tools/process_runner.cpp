#include "tools/process_runner.hpp"

#include "tools/report.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

} // namespace

ProgramRun run_program(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                       const std::filesystem::path& capture_file) {
    std::vector<char*> arguments;
    for (const std::string& arg : argv)
        arguments.push_back(const_cast<char*>(arg.c_str()));
    arguments.push_back(nullptr);

    SpawnActions spawn;
    posix_spawn_file_actions_addchdir_np(&spawn.actions, cwd.c_str());
    posix_spawn_file_actions_addopen(&spawn.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&spawn.actions, STDOUT_FILENO, capture_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&spawn.actions, STDOUT_FILENO, STDERR_FILENO);

    pid_t pid = 0;
    int error = posix_spawnp(&pid, arguments[0], &spawn.actions, nullptr, arguments.data(), environ);
    if (error != 0)
        throw ToolError("cannot run " + argv[0] + ": " + std::strerror(error));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw ToolError("lost track of " + argv[0] + ": " + std::strerror(errno));

    ProgramRun run;
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream captured(capture_file, std::ios::binary);
    run.output.assign(std::istreambuf_iterator<char>(captured), std::istreambuf_iterator<char>());
    return run;
}

bool program_exists(const std::string& command) {
    if (command.find('/') != std::string::npos)
        return access(command.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos)
            end = directories.size();
        std::string directory = directories.substr(start, end - start);
        std::string candidate = (directory.empty() ? "." : directory) + "/" + command;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}
