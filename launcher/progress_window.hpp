#pragma once

#include <windows.h>

// The progress window of a windowed image whose start is slow. It lives on a thread of its
// own, which waits first: a start that reaches its child within a second shows nothing. A
// slower one shows a small window, titled with the product name, with one line and a bar of
// the entry stream decoded so far against its length; it closes once the child is ready
// for input, has ended, or has run for ten seconds, or when a failure box opens. USER32 and
// GDI32 are loaded on that path only, so the image imports neither. Whatever fails on the
// way leaves the window out and the run as it is.

// At the start of the run: starts the waiting thread when the image is windowed and its
// progress window is not turned off; otherwise does nothing.
void start_progress_window();

// Right after the child has started: tells the thread, and hands it a handle of the child
// of its own. Nothing when no thread was started.
void hand_child_to_progress_window(HANDLE child);
