#include "payload/directory_cache.hpp"

#include <windows.h>

#include <string.h>
#include <wchar.h>

#include "diag/report.hpp"
#include "diag/stop.hpp"
#include "paths/path_capacity.hpp"
#include "paths/path_text.hpp"
#include "paths/template_expansion.hpp"

CreatedDirectoryCache created_directory_cache;

namespace {

constexpr wchar_t home_template[] = L"{HOME}";

bool same_path(const wchar_t* left, const wchar_t* right) {
    for (;; ++left, ++right) {
        if (*left != *right) {
            return false;
        }
        if (*left == 0) {
            return true;
        }
    }
}

// A directory that cannot be copied to the heap is simply not recorded: later requests ask
// the system again.
void remember_directory(const wchar_t* path, bool made_now) {
    if (created_directory_cache.count >= created_directory_cache_capacity) {
        return;
    }
    wchar_t* copy = _wcsdup(path);
    if (copy == nullptr) {
        return;
    }
    created_directory_cache.entries[created_directory_cache.count] = copy;
    created_directory_cache.made_now[created_directory_cache.count] = made_now;
    ++created_directory_cache.count;
}

// The home directory is known to exist, so walks below it stop there at the latest.
void seed_directory_cache() {
    wchar_t home[path_capacity];
    if (!expand_path_template(home, home_template, path_capacity)) {
        report_expand_failure(home_template);
    }
    remember_directory(home, false);
}

bool is_drive_name(const wchar_t* path) {
    return path[0] != 0 && path[1] == L':' && path[2] == 0;
}

} // namespace

bool ensure_directory(const wchar_t* path) {
    if (created_directory_cache.count == 0) {
        seed_directory_cache();
    }
    for (int index = 0; index < created_directory_cache.count; ++index) {
        if (same_path(created_directory_cache.entries[index], path)) {
            return true;
        }
    }
    if (is_drive_name(path)) {
        return true;
    }
    bool made_now = CreateDirectoryW(path, nullptr) != 0;
    if (!made_now && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    remember_directory(path, made_now);
    return true;
}

bool directory_made_now(const wchar_t* path) {
    for (int index = 0; index < created_directory_cache.count; ++index) {
        if (created_directory_cache.made_now[index] &&
            same_path(created_directory_cache.entries[index], path)) {
            return true;
        }
    }
    return false;
}

void forget_directories_made_now() {
    for (int index = 0; index < created_directory_cache.count; ++index) {
        created_directory_cache.made_now[index] = false;
    }
}

namespace {

// The walk works on one copy of the path, cut at a backslash per level and restored on
// the way back, so a level costs a small stack frame rather than a 4096-unit copy: a
// path of 2,000 one-letter levels stays far inside the stack.
wchar_t walk_path[path_capacity];

// Makes the parent of the path held in walk_path[0, length).
bool ensure_walk_parent(size_t length) {
    // The first unit is never taken as the separator, so "\name" has no parent to make.
    size_t separator = last_backslash(walk_path, length);
    if (separator == 0 || separator == length) {
        return true;
    }
    walk_path[separator] = 0;
    bool exists = ensure_directory(walk_path);
    if (!exists) {
        // A level that cannot be made does not stop the walk: the final open decides.
        ensure_walk_parent(separator);
        exists = ensure_directory(walk_path);
    }
    walk_path[separator] = L'\\';
    return exists;
}

} // namespace

bool ensure_parent_directories(const wchar_t* path) {
    size_t length = wcslen(path);
    if (length + 1 > path_capacity) {
        stop_at_limit();
    }
    memcpy(walk_path, path, (length + 1) * sizeof(wchar_t));
    return ensure_walk_parent(length);
}
