#include "payload/extraction_lock.hpp"

#include <string.h>
#include <wchar.h>

#include "diag/messages.hpp"
#include "diag/report.hpp"
#include "diag/stop.hpp"
#include "paths/path_capacity.hpp"
#include "paths/path_text.hpp"
#include "payload/directory_cache.hpp"
#include "payload/lock_file_layout.hpp"
#include "payload/lock_patience.hpp"

ExtractionLock extraction_lock;

namespace {

// A waiting launcher looks at the lock and the record after a pause that doubles from the
// first to the longest: a writer finishes small files in well under a millisecond and big
// ones in tens of them, and a follower should notice either soon, without spinning.
constexpr DWORD wait_first_pause_ms = 1;
constexpr DWORD wait_longest_pause_ms = 8;
// One that asks looks every millisecond, so that it is there when the holder gives way; and
// the holder that gave way lets it go first, waiting this long before it tries again.
constexpr DWORD asking_pause_ms = 1;
constexpr DWORD give_way_pause_ms = 4;
// The holder looks for a request at most this often: the look is two calls to the system
// per file, which a launcher alone would pay on every small file, while a launcher that
// asks waits for a file end anyway.
constexpr ULONGLONG request_check_interval_ms = 4;

wchar_t lock_path[path_capacity];
wchar_t probe_path[path_capacity];

struct ProgressRecord {
    uint32_t process_id;
    uint32_t files_finished;
    uint64_t heartbeat;
};
static_assert(sizeof(ProgressRecord) == lock_record_size);

bool lock_range(uint64_t offset, bool exclusive) {
    ++extraction_lock.range_calls;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return LockFileEx(extraction_lock.file, flags, 0, lock_range_length, 0, &at) != 0;
}

void unlock_range(uint64_t offset) {
    ++extraction_lock.range_calls;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    UnlockFileEx(extraction_lock.file, 0, lock_range_length, 0, &at);
}

// A record that cannot be read, or a file too short to hold one (just made), reads as zeros.
ProgressRecord read_record() {
    ProgressRecord record{};
    OVERLAPPED at{};
    at.Offset = lock_record_offset;
    DWORD read = 0;
    if (!ReadFile(extraction_lock.file, &record, sizeof record, &read, &at) || read != sizeof record) {
        record = ProgressRecord{};
    }
    return record;
}

// A record that cannot be written shows no progress: those waiting then give up after the
// patience, which is what they should do behind a writer that cannot write.
void write_record() {
    ProgressRecord record{GetCurrentProcessId(), extraction_lock.files_finished, extraction_lock.heartbeat};
    OVERLAPPED at{};
    at.Offset = lock_record_offset;
    DWORD written = 0;
    WriteFile(extraction_lock.file, &record, sizeof record, &written, &at);
    extraction_lock.shown_at_ms = GetTickCount64();
}

void append_text(wchar_t* path, const wchar_t* text) {
    size_t length = wcslen(path);
    size_t added = wcslen(text);
    if (length + added + 1 > path_capacity) {
        stop_at_limit();
    }
    memcpy(path + length, text, (added + 1) * sizeof(wchar_t));
}

void make_lock_path(const wchar_t* directory) {
    constexpr size_t name_units = sizeof extraction_lock_file_name - 1;
    wchar_t name[name_units];
    for (size_t at = 0; at < name_units; ++at) {
        name[at] = static_cast<wchar_t>(extraction_lock_file_name[at]);
    }
    if (!join_path(lock_path, path_capacity, directory, name, name_units)) {
        stop_at_limit();
    }
}

// Whether a new file can be made in the directory: a file of a name of the lock's own
// ("<lock name>-<process id>.tmp", which talvik pack keeps out of every tree), deleted as
// it is closed.
bool directory_writable() {
    memcpy(probe_path, lock_path, (wcslen(lock_path) + 1) * sizeof(wchar_t));
    wchar_t suffix[10];
    DWORD id = GetCurrentProcessId();
    constexpr wchar_t digits[] = L"0123456789abcdef";
    suffix[0] = L'-';
    for (int at = 0; at < 8; ++at) {
        suffix[1 + at] = digits[(id >> (28 - 4 * at)) & 0xF];
    }
    suffix[9] = 0;
    append_text(probe_path, suffix);
    append_text(probe_path, L".tmp");
    HANDLE probe = CreateFileW(probe_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(probe);
    return true;
}

HANDLE open_lock_file() {
    // Shared for reading and writing, by every launcher; never for deletion, so that the file
    // cannot go while a launcher has it open and so cannot split into two.
    return CreateFileW(lock_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Opens the lock file, making the directory first. A sharing violation (another program
// holding the file open without sharing, for a moment) is waited out within the patience.
// Where it cannot be opened, a directory that cannot be written leaves the run unlocked, to
// fail at its first write as it would have; any other directory ends the run here, before
// anything is written without the lock.
void open_lock(const wchar_t* directory) {
    extraction_lock.tried = true;
    make_lock_path(directory);
    ensure_parent_directories(lock_path);
    // The directory may have been made just now, before the lock was held: other launchers
    // may write into it before this one holds the lock, so it does not count as made under it.
    forget_directories_made_now();
    ULONGLONG started = GetTickCount64();
    DWORD pause = wait_first_pause_ms;
    for (;;) {
        HANDLE file = open_lock_file();
        if (file != INVALID_HANDLE_VALUE) {
            extraction_lock.file = file;
            return;
        }
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION || GetTickCount64() - started >= extraction_lock_patience()) {
            if (directory_writable()) {
                report_os_error_and_exit(message_lock_failed, error);
            }
            return;
        }
        Sleep(pause);
        pause = pause * 2 < wait_longest_pause_ms ? pause * 2 : wait_longest_pause_ms;
    }
}

void hold() {
    extraction_lock.held = true;
    extraction_lock.gave_way = false;
    ++extraction_lock.holds;
}

void stop_asking() {
    if (extraction_lock.asking) {
        unlock_range(lock_request_offset);
        extraction_lock.asking = false;
    }
}

bool same_file_count(const ProgressRecord& left, const ProgressRecord& right) {
    return left.process_id == right.process_id && left.files_finished == right.files_finished;
}

bool same_record(const ProgressRecord& left, const ProgressRecord& right) {
    return same_file_count(left, right) && left.heartbeat == right.heartbeat;
}

} // namespace

LockTaken take_extraction_lock(const wchar_t* directory, bool ask) {
    if (!extraction_lock.tried) {
        open_lock(directory);
    }
    if (extraction_lock.file == nullptr) {
        return LockTaken::unlocked;
    }
    // Having given way, the launcher lets the one that asked take the lock first.
    if (!extraction_lock.gave_way && lock_range(lock_writer_offset, true)) {
        hold();
        return LockTaken::at_once;
    }
    DWORD pause = extraction_lock.gave_way ? give_way_pause_ms : wait_first_pause_ms;
    extraction_lock.gave_way = false;
    ProgressRecord seen = read_record();
    ULONGLONG progress_at = GetTickCount64();
    for (;;) {
        if (ask && !extraction_lock.asking) {
            // A failure here is the holder looking for requests at this moment; the next
            // round asks again.
            extraction_lock.asking = lock_range(lock_request_offset, false);
        }
        Sleep(pause);
        pause =
            ask ? asking_pause_ms : (pause * 2 < wait_longest_pause_ms ? pause * 2 : wait_longest_pause_ms);
        if (lock_range(lock_writer_offset, true)) {
            stop_asking();
            hold();
            return LockTaken::after_waiting;
        }
        DWORD error = GetLastError();
        ProgressRecord now = read_record();
        if (!same_file_count(now, seen)) {
            stop_asking();
            return LockTaken::file_finished;
        }
        if (!same_record(now, seen)) {
            seen = now;
            progress_at = GetTickCount64();
        } else if (GetTickCount64() - progress_at >= extraction_lock_patience()) {
            report_os_error_and_exit(message_lock_failed, error);
        }
    }
}

bool take_extraction_lock_at_once(const wchar_t* directory) {
    if (!extraction_lock.tried) {
        extraction_lock.tried = true;
        make_lock_path(directory);
        HANDLE file = open_lock_file();
        extraction_lock.file = file == INVALID_HANDLE_VALUE ? nullptr : file;
    }
    if (extraction_lock.file == nullptr || !lock_range(lock_writer_offset, true)) {
        return false;
    }
    hold();
    return true;
}

void show_entry_finished() {
    if (!extraction_lock.held) {
        return;
    }
    ++extraction_lock.files_finished;
    ++extraction_lock.heartbeat;
    write_record();
}

void show_progress() {
    if (extraction_lock.held &&
        GetTickCount64() - extraction_lock.shown_at_ms >= extraction_lock_heartbeat_ms) {
        ++extraction_lock.heartbeat;
        write_record();
    }
}

bool extraction_lock_wanted() {
    ULONGLONG now = GetTickCount64();
    if (now - extraction_lock.request_checked_at_ms < request_check_interval_ms) {
        return false;
    }
    extraction_lock.request_checked_at_ms = now;
    if (!lock_range(lock_request_offset, true)) {
        return true;
    }
    unlock_range(lock_request_offset);
    return false;
}

void release_extraction_lock() {
    if (extraction_lock.held) {
        extraction_lock.held = false;
        unlock_range(lock_writer_offset);
    }
}

void give_extraction_lock_way() {
    release_extraction_lock();
    extraction_lock.gave_way = true;
}

void close_extraction_lock() {
    release_extraction_lock();
    stop_asking();
    if (extraction_lock.file != nullptr) {
        CloseHandle(extraction_lock.file);
        extraction_lock.file = nullptr;
    }
}
