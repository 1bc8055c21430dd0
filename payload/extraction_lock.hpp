#pragma once

#include <windows.h>

#include <stdint.h>

// One writer at a time in a target directory: the writer range of the tree's lock file,
// whose name, ranges and progress record are laid down in payload/lock_file_layout.hpp.
// The ranges, one byte each, and what holding them means:
//   writer    exclusive: the one launcher that writes files of the tree, or its stamp;
//   request   shared: launchers waiting for the writer that ask it to give way;
//   in use    shared: kept for launchers whose child runs from the tree (the extraction never
//             takes it); whoever removes a tree takes writer and then in use exclusively,
//             both at once, and leaves the tree alone when either is held.
// A holder of the writer range rewrites the progress record after every entry and every
// second inside long work; those waiting count any change as progress.
//
// The file lies in the directory itself, so every spelling of the directory (a short name,
// another drive letter mapped to it, a network path) meets the same lock, and only whoever
// can write into the directory can make or hold it: under the per-user cache folder, the
// user alone. Every launcher opens it at the start, before it looks at the tree, and holds
// the in-use range shared until its child has ended; a start that finds every file intact
// takes no other range.
//
// A launcher waits for the writer range as long as its holder shows progress in the record;
// after extraction_lock_patience() without any, it ends with the lock message and status 2,
// having written nothing while it waited. A holder that is killed loses its ranges with its
// handle, and the next launcher takes over (the reuse test under the lock rewrites what it
// left). When the lock file cannot be made because the directory cannot be made or written,
// the run goes on without a lock to the first write, which fails with its own message; when
// it cannot be opened in a directory that can be written, the run ends with the lock message.

struct ExtractionLock {
    // The lock file once opened; null before, and when the directory cannot be written.
    HANDLE file;
    // Opening was attempted: at the start, to mark the tree in use, or for a later need.
    bool tried;
    // The in-use range is held; the file then stays open until the child has ended.
    bool in_use;
    bool held;
    // This launcher holds the request range: it asks the holder to give the lock up.
    bool asking;
    // It gave the lock up because another launcher asked, and has not taken it since.
    bool gave_way;
    // Counts the times the writer range was taken, so that a step can tell one hold from
    // the next.
    uint32_t holds;
    // What this launcher last wrote into the progress record, and when (GetTickCount64).
    uint32_t files_finished;
    uint64_t heartbeat;
    uint64_t shown_at_ms;
    uint64_t request_checked_at_ms;
};
extern ExtractionLock extraction_lock;

// How a call for the lock ended: no lock file (directory cannot be written), taken at once,
// taken after waiting, or not taken because the holder finished a file meanwhile, which may
// be the one the caller needs: it tests that file again and calls again if it must still
// write it.
enum class LockTaken { unlocked, at_once, after_waiting, file_finished };

// Takes the writer range of directory's lock file, opening the file on the first call. With
// ask, a launcher that has to wait asks the holder to give the lock up at its next file end.
// Waits as long as the holder shows progress; ends the process with the lock message after
// the patience without any.
LockTaken take_extraction_lock(const wchar_t* directory, bool ask);
// The writer range when it is free at once, for work that can be left to a later start.
// False, having waited for nothing, when it is not, and when the lock file cannot be opened.
bool take_extraction_lock_at_once(const wchar_t* directory);
// The holder's signs of progress for those waiting: after each entry it has finished, and
// at any step of a long piece of work (written only now and then; cheap to call often).
void show_entry_finished();
void show_progress();
// True when another launcher asks for the lock; looked at now and then, not at every call.
bool extraction_lock_wanted();
// Gives the writer range back if it is held.
void release_extraction_lock();
// Gives it back to the launcher that asked: the next call for it lets that one go first.
void give_extraction_lock_way();
// Gives the lock back and closes the file; the extraction's last step.
void close_extraction_lock();

// Marks directory's tree in use for the rest of the run: opens its lock file (making the
// directory) and holds the in-use range shared. A tree condemned by a remover is let go and
// the file opened again by its path, which then names a new tree; one left condemned in
// place (its remover died, or could not move it) is taken back after a while. Where the lock
// file cannot be opened the run goes on unmarked, as it goes on unlocked.
void mark_tree_in_use(const wchar_t* directory);
// The child has ended: lets the mark go and closes the lock file.
void end_tree_use();

// For removing another tree: its lock file at lock_path, opened (never made) with the writer
// and in-use ranges both taken exclusively at once; null when the file is missing or either
// range is held. The caller closes it.
HANDLE claim_unused_tree(const wchar_t* lock_path);
// Writes the condemned mark of the claimed tree's lock file.
bool set_tree_condemned(HANDLE file, uint32_t condemned);
