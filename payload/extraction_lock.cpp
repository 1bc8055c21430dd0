#include "payload/extraction_lock.hpp"

#include <stdint.h>
#include <string.h>
#include <wchar.h>

#include "paths/path_capacity.hpp"
#include "paths/path_text.hpp"
#include "paths/shell_folder.hpp"

ExtractionLock extraction_lock;
wchar_t extraction_lock_name[extraction_lock_name_capacity];
wchar_t extraction_waiting_name[extraction_lock_name_capacity];

namespace {

// Global\ rather than Local\: Local\ is one per logon session, and one user can run several
// sessions at once (the console and a remote desktop, or a scheduled task in session 0),
// all unpacking into the same folder of their profile. Naming a mutex in Global\ needs no
// privilege (only file mappings and symbolic links there do). A risk accepted: another
// user may create a mutex of this name first, grant us access and never release it, and
// our launchers then wait for it; telling its owner apart would need ADVAPI32, which the
// image does not import. Objects made by the launcher itself grant other users nothing.
constexpr wchar_t name_prefix[] = L"Global\\talvik-unpack-";
constexpr wchar_t waiting_suffix[] = L"-waiting";

// A mutex name is limited in length, a path is not: the name carries hashes.
constexpr uint64_t fnv_offset_basis = 0xcbf29ce484222325ull;
constexpr uint64_t fnv_prime = 0x100000001b3ull;

wchar_t folded_path[path_capacity];

// FNV-1a over the UTF-16 units of text, upper-cased as the file system compares names, so
// that two spellings of one directory share a lock. The invariant locale's upper case is
// the one the system documents for comparing paths; should it fail, ASCII letters are
// folded alone.
uint64_t path_hash(const wchar_t* text) {
    int length = static_cast<int>(wcslen(text));
    int folded = length == 0
                     ? 0
                     : LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text, length, folded_path,
                                     static_cast<int>(path_capacity), nullptr, nullptr, 0);
    if (folded == 0) {
        for (int at = 0; at < length; ++at) {
            folded_path[at] = ascii_upper(text[at]);
        }
        folded = length;
    }
    uint64_t hash = fnv_offset_basis;
    for (int at = 0; at < folded; ++at) {
        uint16_t unit = folded_path[at];
        hash = (hash ^ (unit & 0xFF)) * fnv_prime;
        hash = (hash ^ (unit >> 8)) * fnv_prime;
    }
    return hash;
}

void append_hex(wchar_t*& out, uint64_t value) {
    constexpr wchar_t digits[] = L"0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4) {
        *out++ = digits[(value >> shift) & 0xF];
    }
}

void create_lock() {
    extraction_lock.tried = true;
    // Only the rights the lock needs, so that objects of these names that grant no more
    // still open.
    extraction_lock.mutex =
        CreateMutexExW(nullptr, extraction_lock_name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    extraction_lock.given_up = extraction_lock.mutex == nullptr;
    if (extraction_lock.mutex != nullptr) {
        extraction_lock.waiting = CreateEventExW(nullptr, extraction_waiting_name, CREATE_EVENT_MANUAL_RESET,
                                                 SYNCHRONIZE | EVENT_MODIFY_STATE);
    }
}

// No lock from here on: the run goes on as it would without one.
void give_up_lock() {
    CloseHandle(extraction_lock.mutex);
    extraction_lock.mutex = nullptr;
    if (extraction_lock.waiting != nullptr) {
        CloseHandle(extraction_lock.waiting);
        extraction_lock.waiting = nullptr;
    }
}

} // namespace

void make_extraction_lock_name(const wchar_t* directory) {
    // The user's profile joins the directory in the name: the same path text can name
    // another directory for another user (a drive letter mapped per logon), and one user's
    // launchers should never wait for another's.
    wchar_t profile[path_capacity];
    profile[0] = 0;
    append_shell_folder(profile, shell_folder_profile, path_capacity);
    wchar_t* out = extraction_lock_name;
    for (const wchar_t* in = name_prefix; *in != 0; ++in) {
        *out++ = *in;
    }
    append_hex(out, path_hash(directory));
    *out++ = L'-';
    append_hex(out, path_hash(profile));
    *out = 0;
    size_t length = static_cast<size_t>(out - extraction_lock_name);
    static_assert(sizeof name_prefix / sizeof(wchar_t) - 1 + 16 + 1 + 16 +
                      sizeof waiting_suffix / sizeof(wchar_t) <=
                  extraction_lock_name_capacity);
    memcpy(extraction_waiting_name, extraction_lock_name, length * sizeof(wchar_t));
    memcpy(extraction_waiting_name + length, waiting_suffix, sizeof waiting_suffix);
}

LockTaken take_extraction_lock(const wchar_t* directory) {
    if (!extraction_lock.tried) {
        make_extraction_lock_name(directory);
        create_lock();
    }
    if (extraction_lock.mutex == nullptr) {
        return LockTaken::unlocked;
    }
    // An abandoned mutex is ours now: its holder died, perhaps inside a file, which the
    // reuse test under the lock then finds damaged and writes again.
    DWORD result = WaitForSingleObject(extraction_lock.mutex, 0);
    LockTaken taken = LockTaken::at_once;
    if (result == WAIT_TIMEOUT) {
        if (extraction_lock.waiting != nullptr) {
            SetEvent(extraction_lock.waiting);
        }
        result = WaitForSingleObject(extraction_lock.mutex, INFINITE);
        taken = LockTaken::after_waiting;
    }
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        give_up_lock();
        extraction_lock.given_up = true;
        return LockTaken::unlocked;
    }
    extraction_lock.held = true;
    ++extraction_lock.holds;
    return taken;
}

bool extraction_lock_wanted() {
    if (extraction_lock.waiting == nullptr) {
        return true;
    }
    if (WaitForSingleObject(extraction_lock.waiting, 0) != WAIT_OBJECT_0) {
        return false;
    }
    ResetEvent(extraction_lock.waiting);
    return true;
}

void release_extraction_lock() {
    if (extraction_lock.held) {
        extraction_lock.held = false;
        ReleaseMutex(extraction_lock.mutex);
    }
}

void close_extraction_lock() {
    release_extraction_lock();
    if (extraction_lock.mutex != nullptr) {
        give_up_lock();
    }
}
