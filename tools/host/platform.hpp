#pragma once

// What talvik needs from the system it runs on, Linux or Windows; every difference
// between the two lives behind these functions (platform_posix.cpp, platform_windows.cpp).
// Everywhere else, texts are UTF-8 std::strings and paths std::filesystem::paths.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// The command's arguments after the program name, as UTF-8. Windows hands them over as
// UTF-16, whatever the code page.
std::vector<std::string> command_arguments(int argc, char** argv);

// Sets up stdout and stderr before anything is printed: on Windows, bytes go out as they
// are (no "\r\n" for "\n") and a console shows them as UTF-8.
void prepare_standard_streams();

// Whether stderr is a terminal or console, where a progress line can be redrawn.
bool stderr_is_console();

// A path from UTF-8 text, and back. A name that is not valid Unicode comes back as bytes
// that are not valid UTF-8, so that the name checks refuse it instead of changing it.
std::filesystem::path path_from_utf8(std::string_view text);
std::string path_to_utf8(const std::filesystem::path& path);

// The absolute path with every symbolic link, junction and ".." resolved; the same form
// for the same file, so that such paths may be compared.
std::filesystem::path real_path(const std::filesystem::path& path, std::error_code& error);

// The names in a folder, "." and ".." left out, in no particular order.
std::vector<std::filesystem::path> folder_names(const std::filesystem::path& folder, std::error_code& error);

// One entry of a folder as the app folder's walk sees it.
struct FolderEntry {
    bool is_link = false;                // a symbolic link, or on Windows any reparse point
    std::filesystem::path target;        // real_path of what the entry leads to
    std::filesystem::file_status status; // of the target
    std::error_code link_error;          // set when a link leads nowhere
};
// path is the entry's place in a real folder (one of real_path). Fails (error) only when
// the entry itself cannot be looked at.
FolderEntry look_at_entry(const std::filesystem::path& path, std::error_code& error);

// What an output name holds now, without following a link at the name itself.
enum class OutputKind { missing, regular_file, link, folder, pipe, socket, device, other };
OutputKind output_kind(const std::filesystem::path& path, std::error_code& error);

// Makes a new, empty file beside the output: folder / (stem + some unique suffix).
std::filesystem::path create_unique_file(const std::filesystem::path& folder, const std::string& stem,
                                         std::error_code& error);

// Puts the finished temporary file in place of output in one step, replacing what is
// there; on Linux it gets the usual executable mode (0777 less the umask) first.
void replace_file(const std::filesystem::path& temporary, const std::filesystem::path& output,
                  std::error_code& error);

// When the run is interrupted (Ctrl+C, SIGINT, SIGTERM, SIGHUP, a closed console), the
// file named last by remove_on_interrupt is removed before the process ends.
void install_interrupt_cleanup();
void remove_on_interrupt(const std::filesystem::path& path);
void keep_on_interrupt();

// File descriptors for the image file: binary, not inherited by children. -1 and errno
// on failure, as open(2). A file opened for writing may be removed while it is open.
// Opening for reading never waits (a FIFO with no writer opens at once), so that the caller
// can refuse what is no regular file by regular_file_size.
int open_for_reading(const std::filesystem::path& path);
// Whether fd is a regular file (on Windows, a file on a disk), and then its size.
bool regular_file_size(int fd, std::uint64_t& size);
int open_for_writing(const std::filesystem::path& path);
bool seek_to(int fd, std::uint64_t offset);
