#include "payload/tree_stamp.hpp"

#include <string.h>
#include <wchar.h>

#include <zlib.h>

#include "constants/build_constants.hpp"
#include "constants/image_descriptor.hpp"
#include "diag/stop.hpp"
#include "paths/path_capacity.hpp"
#include "paths/path_text.hpp"
#include "payload/current_entry.hpp"
#include "payload/extraction_lock.hpp"
#include "payload/stamp_name.hpp"
#include "payload/tree_file_path.hpp"

namespace {

// The records are gathered where the stamp is written from: address space reserved once,
// committed as the stream goes on, since the stream does not say how many entries follow.
constexpr size_t commit_step = size_t{1} << 20;

struct StampRecorder {
    // The tree the stamp describes.
    const wchar_t* directory;
    bool active;
    // Something the stamp would have to vouch for was not seen as it must be.
    bool broken;
    unsigned char* records;
    size_t used;
    size_t committed;
    uint32_t count;
    // The reuse test's last sighting of the current entry's file.
    bool checked;
    uint64_t checked_size;
    uint64_t checked_time;
    // The hold of the lock in which the stamp was last removed; 0 before the first.
    bool cleared;
    uint32_t cleared_in_hold;
    // The last-write time this run gives every file it writes.
    FILETIME written_at;
};
StampRecorder recorder;

wchar_t stamp_path[path_capacity];
wchar_t temporary_path[path_capacity];

bool reserve_room(size_t wanted) {
    if (recorder.records == nullptr) {
        recorder.records = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, tree_stamp_largest_size, MEM_RESERVE, PAGE_NOACCESS));
        if (recorder.records == nullptr) {
            return false;
        }
    }
    if (wanted > tree_stamp_largest_size) {
        return false;
    }
    while (recorder.committed < wanted) {
        if (VirtualAlloc(recorder.records + recorder.committed, commit_step, MEM_COMMIT, PAGE_READWRITE) ==
            nullptr) {
            return false;
        }
        recorder.committed += commit_step;
    }
    return true;
}

void put_bytes(const void* bytes, size_t size) {
    memcpy(recorder.records + recorder.used, bytes, size);
    recorder.used += size;
}

uint64_t joined(DWORD high, DWORD low) {
    return uint64_t{high} << 32 | low;
}

void put_name(const wchar_t* name) {
    put_bytes(name, wcslen(name) * sizeof(wchar_t));
}

void record_entry(uint64_t size, uint64_t time) {
    uint32_t name_units = static_cast<uint32_t>(wcslen(entry_name));
    size_t record_size = tree_stamp_record_fixed_size + name_units * sizeof(wchar_t);
    if (!reserve_room(recorder.used + record_size + tree_stamp_trailer_size)) {
        recorder.broken = true;
        return;
    }
    put_bytes(&size, sizeof size);
    put_bytes(&time, sizeof time);
    put_bytes(&name_units, sizeof name_units);
    put_bytes(entry_name, name_units * sizeof(wchar_t));
    ++recorder.count;
}

void make_stamp_path(wchar_t* path) {
    make_tree_file_path(path, path_capacity, recorder.directory, tree_stamp_name);
}

// The stamp goes; should it stay (another process has it open without sharing deletion),
// its contents go, so that it no longer parses.
void remove_stamp() {
    make_stamp_path(stamp_path);
    if (DeleteFileW(stamp_path)) {
        return;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return;
    }
    HANDLE file =
        CreateFileW(stamp_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

// The temporary name carries the process id, so that launchers writing at once never
// share one; it begins with the stamp's name, which talvik pack keeps out of the tree.
void make_temporary_path() {
    make_stamp_path(temporary_path);
    append_temporary_suffix(temporary_path, path_capacity);
}

// Whether the stamp on disk holds exactly the bytes this run would write: a start over an
// intact tree then leaves it alone, taking no lock and writing nothing.
bool stamp_on_disk_equal() {
    make_stamp_path(stamp_path);
    HANDLE file =
        CreateFileW(stamp_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size;
    bool equal = GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) == recorder.used;
    for (size_t at = 0; equal && at < recorder.used;) {
        unsigned char chunk[4096];
        DWORD wanted =
            static_cast<DWORD>(recorder.used - at < sizeof chunk ? recorder.used - at : sizeof chunk);
        DWORD read = 0;
        equal = ReadFile(file, chunk, wanted, &read, nullptr) && read == wanted &&
                memcmp(chunk, recorder.records + at, wanted) == 0;
        at += wanted;
    }
    CloseHandle(file);
    return equal;
}

bool write_stamp_file() {
    make_temporary_path();
    HANDLE file =
        CreateFileW(temporary_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool complete = WriteFile(file, recorder.records, static_cast<DWORD>(recorder.used), &written, nullptr) &&
                    written == recorder.used;
    CloseHandle(file);
    make_stamp_path(stamp_path);
    if (!complete || !MoveFileExW(temporary_path, stamp_path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary_path);
        return false;
    }
    return true;
}

} // namespace

void begin_tree_stamp(const wchar_t* directory) {
    recorder.directory = directory;
    uint32_t company_units = static_cast<uint32_t>(wcslen(talvik_company_name()));
    uint32_t product_units = static_cast<uint32_t>(wcslen(talvik_product_name()));
    recorder.active = talvik_attached_data_identity() != 0 &&
                      company_units <= tree_stamp_largest_name_units &&
                      product_units <= tree_stamp_largest_name_units;
    // The header, its count filled in at the end.
    if (!recorder.active || !reserve_room(tree_stamp_header_size + (company_units + product_units) * 2 +
                                          tree_stamp_trailer_size)) {
        recorder.active = false;
        return;
    }
    GetSystemTimeAsFileTime(&recorder.written_at);
    uint32_t version = tree_stamp_version;
    uint32_t count = 0;
    uint64_t identity = talvik_attached_data_identity();
    put_bytes(tree_stamp_magic, sizeof tree_stamp_magic);
    put_bytes(&version, sizeof version);
    put_bytes(&count, sizeof count);
    put_bytes(&identity, sizeof identity);
    put_bytes(&company_units, sizeof company_units);
    put_bytes(&product_units, sizeof product_units);
    put_name(talvik_company_name());
    put_name(talvik_product_name());
}

bool tree_stamp_recording() {
    return recorder.active;
}

void forget_checked_file() {
    recorder.checked = false;
}

// GetFileTime rather than GetFileInformationByHandle: under Wine the latter also asks the
// server for the file's name and volume, which doubled the cost of a small file's test.
void note_checked_file(HANDLE file, uint64_t size) {
    FILETIME written;
    if (!recorder.active || !GetFileTime(file, nullptr, nullptr, &written)) {
        return;
    }
    recorder.checked = true;
    recorder.checked_size = size;
    recorder.checked_time = joined(written.dwHighDateTime, written.dwLowDateTime);
}

void note_checked_attributes(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    recorder.checked = true;
    recorder.checked_size = joined(data.nFileSizeHigh, data.nFileSizeLow);
    recorder.checked_time = joined(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
}

void note_unvouched_file() {
    recorder.broken = true;
}

void record_verified_entry() {
    if (!recorder.active || recorder.broken) {
        return;
    }
    if (!recorder.checked) {
        recorder.broken = true;
        return;
    }
    record_entry(recorder.checked_size, recorder.checked_time);
}

// A time set through the handle is what the file keeps: the system does not change it again
// when this handle writes or closes. Asking the file system after the close instead costs a
// path lookup per file, which made a cold start with a stamp markedly slower than one without.
void record_written_entry(HANDLE file, uint64_t size) {
    if (!recorder.active || recorder.broken) {
        return;
    }
    if (!SetFileTime(file, nullptr, nullptr, &recorder.written_at)) {
        recorder.broken = true;
        return;
    }
    record_entry(size, joined(recorder.written_at.dwHighDateTime, recorder.written_at.dwLowDateTime));
}

// Launchers of every image do this, whatever their check: one of them may share the tree
// with a launcher that checks by metadata.
void clear_tree_stamp_before_write() {
    bool locked = extraction_lock.held;
    if (recorder.cleared && (!locked || recorder.cleared_in_hold == extraction_lock.holds)) {
        return;
    }
    remove_stamp();
    recorder.cleared = true;
    recorder.cleared_in_hold = extraction_lock.holds;
}

void finish_tree_stamp() {
    if (!recorder.active || recorder.broken || recorder.count == 0) {
        return;
    }
    memcpy(recorder.records + sizeof tree_stamp_magic + sizeof(uint32_t), &recorder.count,
           sizeof recorder.count);
    uint32_t crc = static_cast<uint32_t>(crc32(0, recorder.records, static_cast<uInt>(recorder.used)));
    put_bytes(&crc, sizeof crc);
    if (!extraction_lock.held && stamp_on_disk_equal()) {
        return;
    }
    // Without the lock another launcher could be writing files that this run saw intact
    // before it: no stamp then. A run that wrote nothing does not wait for the lock, nor
    // ask for it: a later start writes the stamp.
    if (!extraction_lock.held && !take_extraction_lock_at_once(recorder.directory)) {
        return;
    }
    write_stamp_file();
}
