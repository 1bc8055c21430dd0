#include "tools/host/platform.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

namespace fs = std::filesystem;

namespace {

constexpr int unique_file_attempts = 100;
constexpr std::size_t unique_suffix_length = 6;
// What GetFinalPathNameByHandleW puts before a path with a drive, and before a share.
constexpr std::wstring_view verbatim_prefix = L"\\\\?\\";
constexpr std::wstring_view verbatim_unc_prefix = L"\\\\?\\UNC\\";
// The longest path Windows handles, in UTF-16 units, with its terminator.
constexpr std::size_t longest_path_units = 32768;

std::error_code win32_error(DWORD code) {
    return {static_cast<int>(code), std::system_category()};
}

// errno for the C runtime's callers (strerror), from the few reasons a file cannot be opened.
int errno_from_win32(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}

std::string utf8_from_wide(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr,
                        nullptr);
    return utf8;
}

// The path handed to Win32 calls: from MAX_PATH units on, the verbatim form of the absolute
// path, which some calls need even in a longPathAware process (GetFinalPathNameByHandleW
// under Wine, every call on Windows without the LongPathsEnabled policy).
std::wstring win32_path(const fs::path& path) {
    const std::wstring& text = path.native();
    if (text.size() < MAX_PATH || text.starts_with(L"\\\\")) {
        return text;
    }
    std::error_code error;
    std::wstring absolute = fs::absolute(path, error).lexically_normal().native();
    if (error || absolute.size() < 3 || absolute[1] != L':') {
        return text;
    }
    return std::wstring(verbatim_prefix) + absolute;
}

// The handle opened for looking at a file: no access, every sharing mode, folders too.
HANDLE open_for_query(const fs::path& path, DWORD flags) {
    return CreateFileW(win32_path(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// The pending output's name waits in a fixed buffer: the console control handler runs on
// a thread of its own while the main thread goes on.
wchar_t pending_path[longest_path_units];
volatile LONG pending_path_set = 0;

BOOL WINAPI remove_pending_path(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT ||
        event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The image file is open with FILE_SHARE_DELETE, so it goes as the process ends.
        if (InterlockedCompareExchange(&pending_path_set, 0, 0)) {
            DeleteFileW(pending_path);
        }
    }
    // The system's handler ends the process, with STATUS_CONTROL_C_EXIT for Ctrl+C.
    return FALSE;
}

UINT console_code_page_at_start = 0;

void restore_console_code_page() {
    SetConsoleOutputCP(console_code_page_at_start);
}

bool is_console(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

} // namespace

std::vector<std::string> command_arguments(int, char**) {
    // The C runtime's argv went through the ANSI code page; the UTF-16 line did not.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (!wide) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(utf8_from_wide(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

void prepare_standard_streams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (is_console(STD_OUTPUT_HANDLE) || is_console(STD_ERROR_HANDLE)) {
        // The code page is the console's, not the process's: it is put back at exit.
        console_code_page_at_start = GetConsoleOutputCP();
        if (console_code_page_at_start != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
            std::atexit(restore_console_code_page);
        }
    }
    // The progress line clears itself with an escape sequence.
    HANDLE error_handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error_handle, &mode)) {
        SetConsoleMode(error_handle, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

bool stderr_is_console() {
    return is_console(STD_ERROR_HANDLE);
}

fs::path path_from_utf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return fs::path(wide);
}

std::string path_to_utf8(const fs::path& path) {
    // By hand rather than by WideCharToMultiByte, which would put U+FFFD for an unpaired
    // surrogate: here it becomes the three bytes of its value, which no UTF-8 reader accepts.
    const std::wstring& wide = path.native();
    std::string utf8;
    utf8.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char16_t>(wide[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
            char32_t low = static_cast<char16_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

fs::path real_path(const fs::path& path, std::error_code& error) {
    // The system resolves every reparse point on the way; std::filesystem's canonical on
    // this platform only tidies the text.
    HANDLE file = open_for_query(path, 0);
    if (file == INVALID_HANDLE_VALUE) {
        error = win32_error(GetLastError());
        return {};
    }
    std::wstring final_path(longest_path_units, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, final_path.data(), static_cast<DWORD>(final_path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    DWORD saved_error = GetLastError();
    CloseHandle(file);
    if (length == 0 && saved_error == ERROR_MORE_DATA && path.has_relative_path()) {
        // Wine answers ERROR_MORE_DATA for a final path of MAX_PATH units or more, whatever
        // the buffer. A name that is no reparse point resolves as its folder does.
        DWORD attributes = GetFileAttributesW(win32_path(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            fs::path absolute = fs::absolute(path, error).lexically_normal();
            if (error) {
                return {};
            }
            fs::path folder = real_path(absolute.parent_path(), error);
            return error ? fs::path() : folder / absolute.filename();
        }
    }
    if (length == 0 || length >= final_path.size()) {
        error = win32_error(length == 0 ? saved_error : ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    final_path.resize(length);
    // The plain form, as users write paths; talvik.exe is longPathAware, so it needs no prefix.
    if (final_path.starts_with(verbatim_unc_prefix)) {
        final_path = L"\\\\" + final_path.substr(verbatim_unc_prefix.size());
    } else if (final_path.starts_with(verbatim_prefix)) {
        final_path.erase(0, verbatim_prefix.size());
    }
    error.clear();
    return fs::path(final_path);
}

std::vector<fs::path> folder_names(const fs::path& folder, std::error_code& error) {
    // Not std::filesystem's directory_iterator: from MAX_PATH units on, mingw's lists
    // another folder.
    std::vector<fs::path> names;
    error.clear();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((win32_path(folder) + L"\\*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        error = win32_error(GetLastError());
        return names;
    }
    do {
        std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.emplace_back(std::wstring(name));
        }
    } while (FindNextFileW(search, &found));
    DWORD code = GetLastError();
    FindClose(search);
    if (code != ERROR_NO_MORE_FILES) {
        error = win32_error(code);
    }
    return names;
}

FolderEntry look_at_entry(const fs::path& path, std::error_code& error) {
    FolderEntry entry;
    error.clear();
    DWORD attributes = GetFileAttributesW(win32_path(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD code = GetLastError();
        // Listed but not there: a link whose target is gone, as Wine shows one.
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            error = win32_error(code);
            return entry;
        }
        entry.is_link = true;
        entry.link_error = win32_error(code);
        return entry;
    }
    // Junctions and symbolic links are reparse points; a link that the file system
    // resolves out of sight (Wine's view of a Linux link to a file) shows as a real path
    // that is not the entry's own.
    entry.is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.target = real_path(path, entry.link_error);
    if (entry.link_error) {
        if (!entry.is_link) {
            error = entry.link_error;
            return entry;
        }
        entry.target.clear();
        return entry;
    }
    if (entry.target != path) {
        entry.is_link = true;
    }
    entry.status = fs::status(entry.target, entry.link_error);
    return entry;
}

OutputKind output_kind(const fs::path& path, std::error_code& error) {
    error.clear();
    HANDLE file = open_for_query(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_PIPE_BUSY) {
            return OutputKind::pipe;
        }
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            error = win32_error(code);
        }
        return OutputKind::missing;
    }
    OutputKind kind = OutputKind::other;
    BY_HANDLE_FILE_INFORMATION information;
    switch (GetFileType(file)) {
    case FILE_TYPE_CHAR:
        kind = OutputKind::device;
        break;
    case FILE_TYPE_PIPE:
        kind = OutputKind::pipe;
        break;
    case FILE_TYPE_DISK:
        if (!GetFileInformationByHandle(file, &information)) {
            error = win32_error(GetLastError());
        } else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            kind = OutputKind::link;
        } else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            kind = OutputKind::folder;
        } else {
            kind = OutputKind::regular_file;
        }
        break;
    default:
        break;
    }
    CloseHandle(file);
    return kind;
}

fs::path create_unique_file(const fs::path& folder, const std::string& stem, std::error_code& error) {
    constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned long long seed = GetTickCount64() * 2654435761u ^ GetCurrentProcessId();
    for (int attempt = 0; attempt < unique_file_attempts; ++attempt) {
        std::string suffix;
        for (std::size_t k = 0; k < unique_suffix_length; ++k) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            suffix += alphabet[(seed >> 33) % alphabet.size()];
        }
        fs::path candidate = folder / path_from_utf8(stem + suffix);
        HANDLE file =
            CreateFileW(win32_path(candidate).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            error.clear();
            return candidate;
        }
        DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            error = win32_error(code);
            return {};
        }
    }
    error = win32_error(ERROR_FILE_EXISTS);
    return {};
}

void replace_file(const fs::path& temporary, const fs::path& output, std::error_code& error) {
    error.clear();
    if (!MoveFileExW(win32_path(temporary).c_str(), win32_path(output).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = win32_error(GetLastError());
    }
}

void install_interrupt_cleanup() {
    SetConsoleCtrlHandler(remove_pending_path, TRUE);
}

void remove_on_interrupt(const fs::path& path) {
    InterlockedExchange(&pending_path_set, 0);
    std::wstring text = win32_path(path);
    if (text.size() >= longest_path_units) {
        return;
    }
    std::wmemcpy(pending_path, text.c_str(), text.size() + 1);
    InterlockedExchange(&pending_path_set, 1);
}

void keep_on_interrupt() {
    InterlockedExchange(&pending_path_set, 0);
}

int open_for_reading(const fs::path& path) {
    return _wopen(win32_path(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

bool regular_file_size(int fd, std::uint64_t& size) {
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION information;
    if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    size = std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
    return true;
}

int open_for_writing(const fs::path& path) {
    // Through CreateFileW for FILE_SHARE_DELETE, which lets an interrupt remove the file.
    HANDLE file = CreateFileW(win32_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errno_from_win32(GetLastError());
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        errno = EMFILE;
    }
    return fd;
}

bool seek_to(int fd, std::uint64_t offset) {
    return _lseeki64(fd, static_cast<long long>(offset), SEEK_SET) >= 0;
}
