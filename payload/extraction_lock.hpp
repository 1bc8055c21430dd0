#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

// One writer at a time in a target directory: a named mutex that every launcher of the
// user shares for that directory, and beside it a named event through which a launcher
// that waits for the mutex asks its holder to give it up at the end of the file it writes.
// Both are created on first use, that is when the first entry fails its reuse test, so a
// start that finds every file intact creates no lock object. Whatever goes wrong with them
// is never a failure of the run: a mutex that cannot be created, opened or waited for
// leaves the extraction unlocked, a missing event makes every holder give the mutex up
// after each file, and a mutex left by a launcher that died holding it is taken over (the
// reuse test repairs what the dead launcher left).

// "Global\talvik-unpack-", two 16-digit hashes and "-waiting": well inside the 260 units
// of a name.
constexpr size_t extraction_lock_name_capacity = 72;

struct ExtractionLock {
    // The mutex once created; null before, and when it could not be had.
    HANDLE mutex;
    // Set by a launcher about to wait for the mutex; null when it could not be had.
    HANDLE waiting;
    // Creation was attempted: some entry needed writing.
    bool tried;
    // The mutex could not be created, opened or waited for: the run went on unlocked.
    bool given_up;
    bool held;
    // Counts the times the lock was taken, so that a step can tell one hold from the next.
    uint32_t holds;
};
extern ExtractionLock extraction_lock;
extern wchar_t extraction_lock_name[extraction_lock_name_capacity];
extern wchar_t extraction_waiting_name[extraction_lock_name_capacity];

// Fills both names for the full path of a target directory.
void make_extraction_lock_name(const wchar_t* directory);

// How the lock was taken: not at all (there is no lock object, so nothing to wait for),
// at once, or after waiting for another launcher that held it.
enum class LockTaken { unlocked, at_once, after_waiting };

// Takes the lock of directory, creating it on the first call; waits without a time limit,
// having asked the holder to give it up.
LockTaken take_extraction_lock(const wchar_t* directory);
// True when another launcher has asked for the lock (and always when there is no event to
// ask through); clears the request. The holder asks after each file, so a follower waits
// only for the file being written.
bool extraction_lock_wanted();
// Gives the lock back if it is held.
void release_extraction_lock();
// Gives the lock back and closes both objects; the extraction's last step.
void close_extraction_lock();
