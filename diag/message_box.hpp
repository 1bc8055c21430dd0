#pragma once

// Shows text in a message box of this title and MB_* style, with no owner window, and
// returns once it is closed; nothing happens when no box can be shown. The launcher image
// links diag/message_box.cpp, which loads USER32 only on this path, so the image's imports
// stay KERNEL32 and SHELL32. Test programs link tests/support/recorded_message_box.cpp
// instead, whose record of the call the diag tests of windowed images read back, so that no
// test waits on a window.
void show_message_box(const wchar_t* text, const wchar_t* title, unsigned style);
