// Linked only into the launcher image; test programs link a recording definition.
#include "diag/message_box.hpp"

#include <windows.h>

namespace {

using MessageBoxCall = int(WINAPI*)(HWND owner, const wchar_t* text, const wchar_t* title, UINT style);

} // namespace

void show_message_box(const wchar_t* text, const wchar_t* title, unsigned style) {
    // USER32 is one of the system's known DLLs: the search order cannot put another in its place.
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    if (user32 == nullptr) {
        return;
    }
    // Through a plain function pointer first: GetProcAddress's type has no parameters.
    auto call =
        reinterpret_cast<MessageBoxCall>(reinterpret_cast<void (*)()>(GetProcAddress(user32, "MessageBoxW")));
    if (call != nullptr) {
        call(nullptr, text, title, style);
    }
    FreeLibrary(user32);
}
