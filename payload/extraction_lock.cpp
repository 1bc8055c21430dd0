#include "payload/extraction_lock.hpp"

#include <string.h>

#include "diag/messages.hpp"
#include "diag/report.hpp"
#include "paths/path_capacity.hpp"
#include "payload/directory_cache.hpp"
#include "payload/lock_file_layout.hpp"
#include "payload/lock_patience.hpp"
#include "payload/tree_file_path.hpp"

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

OVERLAPPED at_offset(uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

// A tree whose condemned mark stays this long in place has lost its remover, or its remover
// could not move it: a removal moves the tree aside within moments of setting the mark.
constexpr ULONGLONG condemned_patience_ms = 250;

// Takes one range (exclusive or shared) of a lock file if it is free at once; never waits.
bool lock_range_of(HANDLE file, uint64_t offset, DWORD exclusive) {
    OVERLAPPED at = at_offset(offset);
    return LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY | exclusive, 0, lock_range_length, 0, &at) != 0;
}

void unlock_range_of(HANDLE file, uint64_t offset) {
    OVERLAPPED at = at_offset(offset);
    UnlockFileEx(file, 0, lock_range_length, 0, &at);
}

bool lock_range(uint64_t offset, DWORD exclusive) {
    return lock_range_of(extraction_lock.file, offset, exclusive);
}

void unlock_range(uint64_t offset) {
    unlock_range_of(extraction_lock.file, offset);
}

uint32_t read_condemned() {
    uint32_t condemned = 0;
    OVERLAPPED at = at_offset(lock_condemned_offset);
    DWORD read = 0;
    if (!ReadFile(extraction_lock.file, &condemned, sizeof condemned, &read, &at) ||
        read != sizeof condemned) {
        return 0;
    }
    return condemned;
}

// Whether the open lock file is still the one at its path, not moved aside with its tree.
bool lock_file_still_in_place() {
    HANDLE again = CreateFileW(lock_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (again == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION held;
    BY_HANDLE_FILE_INFORMATION found;
    bool same = GetFileInformationByHandle(extraction_lock.file, &held) &&
                GetFileInformationByHandle(again, &found) &&
                held.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
                held.nFileIndexHigh == found.nFileIndexHigh && held.nFileIndexLow == found.nFileIndexLow;
    CloseHandle(again);
    return same;
}

// A record that cannot be read, or a file too short to hold one (just made), reads as zeros.
ProgressRecord read_record() {
    ProgressRecord record{};
    OVERLAPPED at = at_offset(lock_record_offset);
    DWORD read = 0;
    if (!ReadFile(extraction_lock.file, &record, sizeof record, &read, &at) || read != sizeof record) {
        record = ProgressRecord{};
    }
    return record;
}

// A record that cannot be written shows no progress: those waiting then give up after the
// patience, which is what they should do behind a writer that cannot write.
void write_record() {
    ProgressRecord record{GetCurrentProcessId(), extraction_lock.files_finished, ++extraction_lock.heartbeat};
    OVERLAPPED at = at_offset(lock_record_offset);
    DWORD written = 0;
    WriteFile(extraction_lock.file, &record, sizeof record, &written, &at);
    extraction_lock.shown_at_ms = GetTickCount64();
}

// Whether a new file can be made in the directory: one of a name of the lock's own ("<lock
// name>-<process id>.tmp", which talvik pack keeps out of every tree), deleted as it is
// closed.
bool directory_writable() {
    memcpy(probe_path, lock_path, sizeof lock_path);
    append_temporary_suffix(probe_path, path_capacity);
    HANDLE probe = CreateFileW(probe_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(probe);
    return true;
}

// Opens the lock file of directory; null when it cannot be opened. Shared for reading and
// writing, by every launcher; never for deletion, so that the file cannot go while a
// launcher has it open and so cannot split into two.
//
// A patient caller makes the directory first and waits out a sharing violation (another
// program holding the file open without sharing, for a moment) within the patience. Where
// the file cannot be opened, a directory that cannot be written leaves the run unlocked, to
// fail at its first write as it would have; any other directory ends the run here, before
// anything is written without the lock.
void open_lock(const wchar_t* directory, bool patient) {
    extraction_lock.tried = true;
    make_tree_file_path(lock_path, path_capacity, directory, extraction_lock_file_name);
    if (patient) {
        ensure_parent_directories(lock_path);
        // The directory may have been made just now, before the lock was held: other
        // launchers may write into it first, so it does not count as made under the lock.
        forget_directories_made_now();
    }
    ULONGLONG started = GetTickCount64();
    DWORD pause = wait_first_pause_ms;
    for (;;) {
        HANDLE file = CreateFileW(lock_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            extraction_lock.file = file;
            return;
        }
        DWORD error = GetLastError();
        if (!patient) {
            return;
        }
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

} // namespace

LockTaken take_extraction_lock(const wchar_t* directory, bool ask) {
    if (!extraction_lock.tried) {
        open_lock(directory, true);
    }
    if (extraction_lock.file == nullptr) {
        return LockTaken::unlocked;
    }
    // Having given way, the launcher lets the one that asked take the lock first.
    if (!extraction_lock.gave_way && lock_range(lock_writer_offset, LOCKFILE_EXCLUSIVE_LOCK)) {
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
            extraction_lock.asking = lock_range(lock_request_offset, 0);
        }
        Sleep(pause);
        pause =
            ask ? asking_pause_ms : (pause * 2 < wait_longest_pause_ms ? pause * 2 : wait_longest_pause_ms);
        if (lock_range(lock_writer_offset, LOCKFILE_EXCLUSIVE_LOCK)) {
            stop_asking();
            hold();
            return LockTaken::after_waiting;
        }
        DWORD error = GetLastError();
        ProgressRecord now = read_record();
        if (now.process_id != seen.process_id || now.files_finished != seen.files_finished) {
            stop_asking();
            return LockTaken::file_finished;
        }
        if (now.heartbeat != seen.heartbeat) {
            seen = now;
            progress_at = GetTickCount64();
        } else if (GetTickCount64() - progress_at >= extraction_lock_patience()) {
            report_os_error_and_exit(message_lock_failed, error);
        }
    }
}

bool take_extraction_lock_at_once(const wchar_t* directory) {
    if (!extraction_lock.tried) {
        open_lock(directory, false);
    }
    if (extraction_lock.file == nullptr || !lock_range(lock_writer_offset, LOCKFILE_EXCLUSIVE_LOCK)) {
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
    write_record();
}

void show_progress() {
    if (extraction_lock.held &&
        GetTickCount64() - extraction_lock.shown_at_ms >= extraction_lock_heartbeat_ms) {
        write_record();
    }
}

bool extraction_lock_wanted() {
    ULONGLONG now = GetTickCount64();
    if (now - extraction_lock.request_checked_at_ms < request_check_interval_ms) {
        return false;
    }
    extraction_lock.request_checked_at_ms = now;
    if (!lock_range(lock_request_offset, LOCKFILE_EXCLUSIVE_LOCK)) {
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
    if (!extraction_lock.in_use) {
        end_tree_use();
    }
}

void mark_tree_in_use(const wchar_t* directory) {
    ULONGLONG started = GetTickCount64();
    for (;;) {
        open_lock(directory, true);
        if (extraction_lock.file == nullptr) {
            return;
        }
        // Taken exclusively only by a remover, for moments.
        if (lock_range(lock_in_use_offset, 0)) {
            if (read_condemned() == 0) {
                extraction_lock.in_use = true;
                return;
            }
            unlock_range(lock_in_use_offset);
            if (GetTickCount64() - started >= condemned_patience_ms &&
                lock_range(lock_writer_offset, LOCKFILE_EXCLUSIVE_LOCK)) {
                if (lock_range(lock_in_use_offset, LOCKFILE_EXCLUSIVE_LOCK)) {
                    if (lock_file_still_in_place()) {
                        set_tree_condemned(extraction_lock.file, 0);
                    }
                    unlock_range(lock_in_use_offset);
                }
                unlock_range(lock_writer_offset);
            }
        }
        // Past the patience the run goes on unmarked, with the file open for the extraction.
        if (GetTickCount64() - started >= extraction_lock_patience()) {
            return;
        }
        end_tree_use();
        Sleep(wait_first_pause_ms);
    }
}

void end_tree_use() {
    extraction_lock.in_use = false;
    if (extraction_lock.file != nullptr) {
        CloseHandle(extraction_lock.file);
        extraction_lock.file = nullptr;
    }
}

HANDLE claim_unused_tree(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    if (lock_range_of(file, lock_writer_offset, LOCKFILE_EXCLUSIVE_LOCK) &&
        lock_range_of(file, lock_in_use_offset, LOCKFILE_EXCLUSIVE_LOCK)) {
        return file;
    }
    CloseHandle(file);
    return nullptr;
}

bool set_tree_condemned(HANDLE file, uint32_t condemned) {
    OVERLAPPED at = at_offset(lock_condemned_offset);
    DWORD written = 0;
    return WriteFile(file, &condemned, sizeof condemned, &written, &at) && written == sizeof condemned;
}
