#pragma once

#include <windows.h>

#include <stddef.h>

// One writer at a time in a target directory: a named mutex that every launcher of the
// user shares for that directory. It is created on first use, that is when the first entry
// fails its reuse test, so a start that finds every file intact creates no lock object.
// Whatever goes wrong with it is never a failure of the run: a lock that cannot be created,
// opened or waited for leaves the extraction unlocked, and one left by a launcher that died
// holding it is taken over (the reuse test repairs what the dead launcher left).

// "Global\talvik-unpack-" and two 16-digit hashes: well inside the 260 units of a name.
constexpr size_t extraction_lock_name_capacity = 64;

struct ExtractionLock {
    // The mutex once created; null before, and when it could not be had.
    HANDLE mutex;
    // Creation was attempted: some entry needed writing.
    bool tried;
    // It could not be created, opened or waited for: the run went on unlocked.
    bool given_up;
    bool held;
};
extern ExtractionLock extraction_lock;
extern wchar_t extraction_lock_name[extraction_lock_name_capacity];

// Fills extraction_lock_name for the full path of a target directory.
void make_extraction_lock_name(const wchar_t* directory);

// How the lock was taken: not at all (there is no lock object, so nothing to wait for),
// at once, or after waiting for another launcher that held it.
enum class LockTaken { unlocked, at_once, after_waiting };

// Takes the lock of directory, creating it on the first call; waits without a time limit.
LockTaken take_extraction_lock(const wchar_t* directory);
// Gives the lock back if it is held.
void release_extraction_lock();
// Gives the lock back and closes it; the extraction's last step.
void close_extraction_lock();
