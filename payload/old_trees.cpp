#include "payload/old_trees.hpp"

#include <windows.h>

#include <stdint.h>
#include <string.h>
#include <wchar.h>

#include "constants/build_constants.hpp"
#include "constants/image_descriptor.hpp"
#include "paths/path_capacity.hpp"
#include "paths/path_text.hpp"
#include "payload/entry_name_check.hpp"
#include "payload/extraction_lock.hpp"
#include "payload/lock_file_layout.hpp"
#include "payload/stamp_check.hpp"
#include "payload/stamp_name.hpp"
#include "payload/tree_file_path.hpp"
#include "payload/tree_stamp.hpp"

namespace {

constexpr size_t prefix_units = sizeof old_tree_prefix / sizeof(wchar_t) - 1;
// The aside name: the prefix, eight hex digits of the process id, '-', the folder's name.
constexpr size_t aside_extra_units = prefix_units + 9;

wchar_t parent_path[path_capacity];
wchar_t listing_pattern[path_capacity];
wchar_t sibling_path[path_capacity];
wchar_t aside_path[path_capacity];
wchar_t own_file_path[path_capacity];
wchar_t stamped_path[path_capacity];
// The last folder of a stamped name found to be a plain directory all the way down.
wchar_t plain_directory[path_capacity];

bool is_plain_directory(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Whether every folder on the way from tree to the file in stamped_path is a plain directory
// (no link or reparse point leads out of the tree); directory_end is where the file's own
// folder ends in stamped_path. The last folder found plain is remembered, since the stamp
// lists a folder's files together.
bool folders_plain(size_t tree_units, size_t directory_end) {
    if (directory_end <= tree_units) {
        return true;
    }
    wchar_t kept = stamped_path[directory_end];
    stamped_path[directory_end] = 0;
    bool plain = memcmp(stamped_path, plain_directory, (directory_end + 1) * sizeof(wchar_t)) == 0;
    for (size_t at = tree_units + 1; !plain && at <= directory_end; ++at) {
        if (at == directory_end || stamped_path[at] == L'\\') {
            wchar_t unit = stamped_path[at];
            stamped_path[at] = 0;
            bool folder_plain = is_plain_directory(stamped_path);
            stamped_path[at] = unit;
            if (!folder_plain) {
                break;
            }
            plain = at == directory_end;
        }
    }
    if (plain) {
        memcpy(plain_directory, stamped_path, (directory_end + 1) * sizeof(wchar_t));
    }
    stamped_path[directory_end] = kept;
    return plain;
}

// Deletes the file of one record when it is as the stamp saw it, then the folders that this
// leaves empty, up to the tree.
void remove_stamped_file(const wchar_t* tree, const wchar_t* name, uint32_t units, uint64_t size,
                         uint64_t time, bool last_in_folder) {
    size_t tree_units = wcslen(tree);
    if (!entry_name_stays_in_tree(name, units) ||
        !join_path(stamped_path, path_capacity, tree, name, units)) {
        return;
    }
    size_t directory_end = tree_units + 1 + last_backslash(name, units);
    if (directory_end > tree_units + units) {
        directory_end = tree_units;
    }
    if (!folders_plain(tree_units, directory_end)) {
        return;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(stamped_path, GetFileExInfoStandard, &data) &&
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
        (uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow) == size &&
        (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime) == time) {
        DeleteFileW(stamped_path);
    }
    // A folder goes when it is empty, which RemoveDirectoryW alone decides; tried once the
    // stamp moves on to another folder, as a failing try costs as much as a deletion.
    if (!last_in_folder) {
        return;
    }
    for (size_t end = directory_end; end > tree_units;
         end = tree_units + last_backslash(stamped_path + tree_units, end - tree_units)) {
        stamped_path[end] = 0;
        if (!RemoveDirectoryW(stamped_path)) {
            break;
        }
        plain_directory[0] = 0;
    }
}

// Finishes the removal of a tree moved aside: its stamped files, the stamp, the lock file,
// the folder; a folder that keeps files the user added or changed goes back to its name.
void finish_removal(const wchar_t* tree, const wchar_t* original_name) {
    make_tree_file_path(own_file_path, path_capacity, tree, extraction_lock_file_name);
    // Two starts finishing one removal: the one that claims it does the work.
    HANDLE lock = claim_unused_tree(own_file_path);
    if (lock == nullptr && GetFileAttributesW(own_file_path) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    size_t length = 0;
    unsigned char* bytes = read_stamp(tree, &length);
    if (bytes != nullptr) {
        uint64_t identity = 0;
        size_t at = 0;
        uint32_t count = product_stamp_entries(bytes, length, &identity, &at);
        for (uint32_t index = 0; index < count; ++index) {
            StampRecord record = stamp_record_at(bytes + at);
            size_t next = at + tree_stamp_record_fixed_size + record.name_units * sizeof(wchar_t);
            bool last_in_folder = index + 1 == count;
            if (!last_in_folder) {
                StampRecord following = stamp_record_at(bytes + next);
                size_t folder_units = last_backslash(record.name, record.name_units);
                last_in_folder = folder_units != last_backslash(following.name, following.name_units) ||
                                 memcmp(record.name, following.name, folder_units * sizeof(wchar_t)) != 0;
            }
            remove_stamped_file(tree, record.name, record.name_units, record.size, record.time,
                                last_in_folder);
            at = next;
        }
        VirtualFree(bytes, 0, MEM_RELEASE);
        // A stamp of another product is not this launcher's to remove, nor is its tree.
        if (count == 0) {
            if (lock != nullptr) {
                CloseHandle(lock);
            }
            return;
        }
        make_tree_file_path(own_file_path, path_capacity, tree, tree_stamp_name);
        DeleteFileW(own_file_path);
    }
    if (lock != nullptr) {
        CloseHandle(lock);
    }
    make_tree_file_path(own_file_path, path_capacity, tree, extraction_lock_file_name);
    DeleteFileW(own_file_path);
    if (!RemoveDirectoryW(tree) && original_name != nullptr &&
        join_path(sibling_path, path_capacity, parent_path, original_name, wcslen(original_name))) {
        MoveFileW(tree, sibling_path);
    }
}

// The sibling in sibling_path, named name: removed when it is another image's tree of this
// product that nobody uses.
void remove_sibling(const wchar_t* name) {
    size_t length = 0;
    unsigned char* bytes = read_stamp(sibling_path, &length);
    if (bytes == nullptr) {
        return;
    }
    uint64_t identity = 0;
    size_t at = 0;
    uint32_t count = product_stamp_entries(bytes, length, &identity, &at);
    VirtualFree(bytes, 0, MEM_RELEASE);
    if (count == 0 || identity == talvik_attached_data_identity()) {
        return;
    }
    size_t parent_units = wcslen(parent_path);
    size_t name_units = wcslen(name);
    if (parent_units + 1 + aside_extra_units + name_units >= path_capacity) {
        return;
    }
    memcpy(aside_path, parent_path, parent_units * sizeof(wchar_t));
    wchar_t* out = aside_path + parent_units;
    *out++ = L'\\';
    memcpy(out, old_tree_prefix, prefix_units * sizeof(wchar_t));
    out += prefix_units;
    DWORD id = GetCurrentProcessId();
    for (int shift = 28; shift >= 0; shift -= 4) {
        *out++ = L"0123456789abcdef"[(id >> shift) & 0xF];
    }
    *out++ = L'-';
    memcpy(out, name, (name_units + 1) * sizeof(wchar_t));

    make_tree_file_path(own_file_path, path_capacity, sibling_path, extraction_lock_file_name);
    HANDLE lock = claim_unused_tree(own_file_path);
    if (lock == nullptr) {
        return;
    }
    // The mark first: a launcher that opened the lock file before the move sees it once it
    // gets the in-use range, and opens the file again by its path.
    bool moved = set_tree_condemned(lock, 1) && MoveFileW(sibling_path, aside_path);
    CloseHandle(lock);
    // Windows refuses to move a folder in which a file is open, the lock file included.
    if (!moved && !MoveFileW(sibling_path, aside_path)) {
        lock = claim_unused_tree(own_file_path);
        if (lock != nullptr) {
            set_tree_condemned(lock, 0);
            CloseHandle(lock);
        }
        return;
    }
    finish_removal(aside_path, name);
}

} // namespace

void remove_old_trees(const wchar_t* directory) {
    if (talvik_old_trees() != old_trees_remove || talvik_attached_data_identity() == 0) {
        return;
    }
    size_t length = wcslen(directory);
    size_t separator = last_backslash(directory, length);
    if (separator == 0 || separator >= length - 1) {
        return;
    }
    memcpy(parent_path, directory, separator * sizeof(wchar_t));
    parent_path[separator] = 0;
    const wchar_t* own_name = directory + separator + 1;
    if (!join_path(listing_pattern, path_capacity, parent_path, L"*", 1)) {
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE listing = FindFirstFileExW(listing_pattern, FindExInfoBasic, &found,
                                      FindExSearchLimitToDirectories, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (listing == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const wchar_t* name = found.cFileName;
        size_t units = wcslen(name);
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                FILE_ATTRIBUTE_DIRECTORY ||
            !entry_name_stays_in_tree(name, units) ||
            (units == wcslen(own_name) && CompareStringOrdinal(name, -1, own_name, -1, TRUE) == CSTR_EQUAL) ||
            !join_path(sibling_path, path_capacity, parent_path, name, units)) {
            continue;
        }
        if (units > aside_extra_units && memcmp(name, old_tree_prefix, prefix_units * sizeof(wchar_t)) == 0) {
            memcpy(aside_path, sibling_path, (wcslen(sibling_path) + 1) * sizeof(wchar_t));
            finish_removal(aside_path, name + aside_extra_units);
        } else {
            remove_sibling(name);
        }
    } while (FindNextFileW(listing, &found));
    FindClose(listing);
}
