#include "payload/extract.hpp"

#include <windows.h>

#include <string.h>
#include <wchar.h>

#include <zlib.h>

#include "diag/report.hpp"
#include "diag/stop.hpp"
#include "paths/path_text.hpp"
#include "payload/current_entry.hpp"
#include "payload/directory_cache.hpp"
#include "payload/entry_name_check.hpp"
#include "payload/extraction_lock.hpp"
#include "payload/format.hpp"
#include "payload/progress_counters.hpp"
#include "payload/reader.hpp"
#include "payload/tree_stamp.hpp"

wchar_t entry_name[entry_name_capacity];
wchar_t entry_path[path_capacity];
wchar_t child_executable_path[path_capacity];
unsigned char copy_buffer[copy_buffer_size];

namespace {

// Another launcher's reuse test may hold the file open and mapped for the length of one
// checksum pass. The writer shares no reading, and a mapped file cannot be truncated, so
// its open fails until that test is done (with a sharing violation, or the user-mapped
// error when the mapping is met first). The writer tries again after a pause that doubles
// each time, up to a total that covers the pass over a large file; a file held longer (by
// a running application) fails as before.
constexpr DWORD sharing_retry_first_pause_ms = 1;
constexpr DWORD sharing_retry_longest_pause_ms = 64;
constexpr DWORD sharing_retry_total_ms = 2000;

// Files are checksummed through views of at most this size: zlib's crc32 takes a 32-bit
// length, and a bounded view also maps where the address space has no room for a whole
// large file. A multiple of the 64 KiB allocation granularity, as view offsets must be.
constexpr uint64_t checksum_view_size = uint64_t{1} << 30;
// A view is checksummed in slices, so that a launcher holding the lock shows progress
// between them: on a slow disk, reading a whole view can take longer than the patience of
// those waiting for it.
constexpr uint64_t checksum_slice_size = uint64_t{8} << 20;

// Reads the name unit by unit into entry_name; false for the empty name that ends the stream.
// A name longer than the buffer, or one that would lead out of the target directory, is
// taken as undecodable data before anything is opened for it.
bool read_entry_name() {
    size_t length = 0;
    for (;;) {
        uint16_t unit = 0;
        read_payload_bytes(&unit, sizeof unit);
        if (unit == 0) {
            break;
        }
        if (length + 1 >= entry_name_capacity) {
            report_decode_failure();
        }
        entry_name[length++] = static_cast<wchar_t>(unit);
    }
    entry_name[length] = 0;
    if (length > 0 && !entry_name_stays_in_tree(entry_name, length)) {
        report_decode_failure();
    }
    return length > 0;
}

void build_entry_path(const wchar_t* directory) {
    if (!join_path(entry_path, path_capacity, directory, entry_name, wcslen(entry_name))) {
        stop_at_limit();
    }
}

// CRC-32 of the whole mapped file, or 0 when any view cannot be made.
uint32_t checksum_mapping(HANDLE mapping, uint64_t length) {
    uLong crc = 0;
    for (uint64_t offset = 0; offset < length;) {
        uint64_t view_length = length - offset < checksum_view_size ? length - offset : checksum_view_size;
        const void* view = MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                         static_cast<DWORD>(offset), static_cast<SIZE_T>(view_length));
        if (view == nullptr) {
            return 0;
        }
        const Bytef* bytes = static_cast<const Bytef*>(view);
        for (uint64_t done = 0; done < view_length;) {
            uint64_t slice =
                view_length - done < checksum_slice_size ? view_length - done : checksum_slice_size;
            crc = crc32(crc, bytes + done, static_cast<uInt>(slice));
            done += slice;
            show_progress();
        }
        UnmapViewOfFile(view);
        offset += view_length;
    }
    return checksum_from_crc(static_cast<uint32_t>(crc));
}

// The reuse test: the CRC-32 of the file on disk (0 taken as 1), or 0 when there is no usable
// file. An empty file cannot be mapped and so always gives 0.
//
// A launcher that records a stamp keeps writers out while it checks, so that the size and
// time it notes from the handle belong to the bytes it checksummed. A file that a writer
// holds is checked beside it as before, and left out of any stamp.
uint32_t disk_checksum(const wchar_t* path) {
    constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    bool noting = tree_stamp_recording();
    HANDLE file = CreateFileW(path, GENERIC_READ, noting ? FILE_SHARE_READ | FILE_SHARE_DELETE : share_all,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && noting && GetLastError() == ERROR_SHARING_VIOLATION) {
        noting = false;
        note_unvouched_file();
        file = CreateFileW(path, GENERIC_READ, share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    uint32_t checksum = 0;
    // The full 64-bit length, so that a file of 4 GiB or more is checked over all of it.
    LARGE_INTEGER length;
    if (GetFileSizeEx(file, &length) && length.QuadPart > 0) {
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping != nullptr) {
            checksum = checksum_mapping(mapping, static_cast<uint64_t>(length.QuadPart));
            CloseHandle(mapping);
        }
    }
    if (noting && checksum != 0) {
        note_checked_file(file, static_cast<uint64_t>(length.QuadPart));
    }
    CloseHandle(file);
    return checksum;
}

// Whether the entry's file holds its body. An empty file cannot be mapped for a checksum, so
// an entry of size 0 is intact when its file exists and is empty: read from the directory,
// which also answers while another process holds the file open without sharing. Every other
// entry is decided by the checksum alone.
bool entry_intact(uint64_t size, uint32_t stored_checksum) {
    forget_checked_file();
    if (size == 0) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        bool intact = GetFileAttributesExW(entry_path, GetFileExInfoStandard, &data) &&
                      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && data.nFileSizeHigh == 0 &&
                      data.nFileSizeLow == 0;
        if (intact) {
            note_checked_attributes(data);
        }
        return intact;
    }
    return disk_checksum(entry_path) == stored_checksum;
}

// Whether the file's directory was made while this launcher has held the extraction lock
// without a break since. Every launcher that shares the lock writes only while holding it,
// so no other can have put a file there: one that this run has not written yet is not on
// disk, and its reuse test would only be a failing open, which on a first start costs as
// much again as writing the file. (Without a lock file, the directory cannot be written and
// no launcher writes there.)
bool parent_made_now(wchar_t* path) {
    size_t length = wcslen(path);
    size_t separator = last_backslash(path, length);
    // A backslash in the first unit leaves no parent name.
    if (separator == 0 || separator == length) {
        return false;
    }
    path[separator] = 0;
    bool made_now = directory_made_now(path);
    path[separator] = L'\\';
    return made_now;
}

// Truncates and rewrites the file in place. Its handle shares only writing, so no reader
// (another launcher's reuse test, a running child) sees it half written.
HANDLE create_output_file(const wchar_t* path) {
    clear_tree_stamp_before_write();
    ensure_parent_directories(path);
    DWORD pause = sharing_retry_first_pause_ms;
    DWORD paused = 0;
    for (;;) {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            count_file_opened_for_writing();
            return file;
        }
        DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_USER_MAPPED_FILE) ||
            paused >= sharing_retry_total_ms) {
            report_open_failure(path);
        }
        Sleep(pause);
        paused += pause;
        pause = pause * 2 < sharing_retry_longest_pause_ms ? pause * 2 : sharing_retry_longest_pause_ms;
    }
}

// For an entry whose file was not found intact and the lock is not held: the file opened
// for writing, or INVALID_HANDLE_VALUE when it proves intact after all. The decision to
// write is taken holding the lock, which stays held until the file is complete, so two
// launchers never write one file and none runs its child over a file still being written.
// A test under the lock is needed, since another writer may have finished the file between
// the first test and the lock.
//
// While it waits, the launcher tests the file again each time the holder finishes one, most
// likely this very file: the launchers that follow one writer then check its files side by
// side, each waiting only for the file being written, and the writer keeps the lock. Only a
// file that stays wanting asks the holder to give the lock up: after two file ends, since
// the first one seen may be that of the file before (the record is written just after the
// file is closed, and this launcher may have tested the next one in between).
HANDLE open_unless_intact(const wchar_t* directory, uint64_t size, uint32_t stored_checksum) {
    int finished_in_vain = 0;
    for (;;) {
        LockTaken taken = take_extraction_lock(directory, finished_in_vain >= 2);
        if (taken == LockTaken::unlocked) {
            // No lock file: the directory cannot be written, and the open says why.
            return create_output_file(entry_path);
        }
        if (taken != LockTaken::file_finished) {
            break;
        }
        if (entry_intact(size, stored_checksum)) {
            return INVALID_HANDLE_VALUE;
        }
        ++finished_in_vain;
    }
    if (entry_intact(size, stored_checksum)) {
        release_extraction_lock();
        return INVALID_HANDLE_VALUE;
    }
    return create_output_file(entry_path);
}

// Moves the body through copy_buffer, into the file when one is open, else dropping it.
void copy_body(HANDLE file, uint64_t size) {
    while (size > 0) {
        DWORD chunk =
            size < copy_buffer_size ? static_cast<DWORD>(size) : static_cast<DWORD>(copy_buffer_size);
        read_payload_bytes(copy_buffer, chunk);
        show_progress();
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            if (!WriteFile(file, copy_buffer, chunk, &written, nullptr)) {
                report_unpack_failure();
            }
        }
        size -= chunk;
    }
}

} // namespace

const wchar_t* extract_payload(const wchar_t* directory) {
    begin_tree_stamp(directory);
    while (read_entry_name()) {
        build_entry_path(directory);
        if (child_executable_path[0] == 0) {
            // Both buffers have the same capacity.
            memcpy(child_executable_path, entry_path, (wcslen(entry_path) + 1) * sizeof(wchar_t));
        }
        // Integers in the stream are little-endian, as is every Windows target.
        uint64_t size = 0;
        read_payload_bytes(&size, sizeof size);
        uint32_t stored_checksum = 0;
        read_payload_bytes(&stored_checksum, sizeof stored_checksum);

        // The checksum decides: a file of another length with the same CRC-32 stays.
        // A file found intact is final: no launcher writes a file that its test under the
        // lock finds intact, so a start over an intact tree takes no lock at all.
        HANDLE file = INVALID_HANDLE_VALUE;
        if (extraction_lock.held) {
            if (parent_made_now(entry_path) || !entry_intact(size, stored_checksum)) {
                file = create_output_file(entry_path);
            }
        } else if (!entry_intact(size, stored_checksum)) {
            file = open_unless_intact(directory, size, stored_checksum);
        }
        copy_body(file, size);
        if (file != INVALID_HANDLE_VALUE) {
            record_written_entry(file, size);
            CloseHandle(file);
            // At once, so that the launchers waiting for this file test it without delay.
            show_entry_finished();
        } else {
            show_entry_finished();
            record_verified_entry();
        }
        // A writer keeps the lock from file to file, and so its directories made now, until
        // another launcher asks for it: followers wait only for the file being written, a
        // launcher alone takes the lock once (measured against the lock held per file and
        // across a whole run: bench/README.md).
        if (extraction_lock.held && extraction_lock_wanted()) {
            give_extraction_lock_way();
            forget_directories_made_now();
        }
    }
    finish_tree_stamp();
    close_extraction_lock();
    return child_executable_path;
}
