// Orrin Deck's card table: the windowed demo application that `make demo` packs with
// `talvik pack --windowed`. It opens a window that shows how it was started, closes it by
// itself after a moment, and ends with an exit code that tells what happened, so that the
// demo never waits for a click.
//   --close-after MS   close the window after MS milliseconds (default 2000)
//   --exit N           the exit code once the window has closed (default 0)
// With no display to open a window on (Wine on a machine without one), it ends at once with
// exit code 10.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

constexpr int no_window_exit_code = 10;
constexpr UINT_PTR close_timer = 1;

int exit_code = 0;
std::vector<std::wstring> shown_lines;

std::wstring variable(const wchar_t* name) {
    wchar_t value[32768];
    DWORD length = GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : L"(not set)";
}

LRESULT CALLBACK table_window(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        int y = 16;
        for (const std::wstring& line : shown_lines) {
            TextOutW(dc, 16, y, line.c_str(), static_cast<int>(line.size()));
            y += 22;
        }
        EndPaint(window, &paint);
        return 0;
    }
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(exit_code);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    UINT close_after_ms = 2000;
    for (int i = 1; i + 1 < count; ++i) {
        if (lstrcmpW(arguments[i], L"--close-after") == 0) {
            close_after_ms = static_cast<UINT>(_wtoi(arguments[i + 1]));
        } else if (lstrcmpW(arguments[i], L"--exit") == 0) {
            exit_code = _wtoi(arguments[i + 1]);
        }
    }
    shown_lines = {L"Orrin Deck 1.20 - the card table",
                   L"started by launcher process " + variable(L"TALVIK_ONEFILE_PARENT"),
                   L"launcher folder: " + variable(L"TALVIK_ONEFILE_DIRECTORY"),
                   L"closing by itself in " + std::to_wstring(close_after_ms) + L" ms"};

    WNDCLASSW table_class{};
    table_class.lpfnWndProc = table_window;
    table_class.hInstance = instance;
    table_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<const wchar_t*>(IDC_ARROW));
    table_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    table_class.lpszClassName = L"OrrinDeckTable";
    RegisterClassW(&table_class);
    HWND window =
        CreateWindowExW(0, table_class.lpszClassName, L"Orrin Deck", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 480, 180, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return no_window_exit_code;
    }
    ShowWindow(window, show);
    SetTimer(window, close_timer, close_after_ms, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
