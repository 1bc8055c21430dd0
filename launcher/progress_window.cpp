#include "launcher/progress_window.hpp"

#include <windows.h>

#include <string.h>

#include "constants/build_constants.hpp"
#include "constants/image_descriptor.hpp"
#include "diag/output.hpp"
#include "diag/windowed_image.hpp"
#include "launcher/progress_content.hpp"
#include "payload/progress_counters.hpp"

namespace {

// A start that reaches its child sooner shows no window: every warm start of a small app,
// and the cold start of most.
constexpr DWORD slow_start_ms = 1000;
// The window waits for the child to be ready for input, but no longer than this after the
// child started: a child that never asks for input (a console program, one that shows no
// window for a while) would otherwise keep it up.
constexpr ULONGLONG child_ready_bound_ms = 10000;
// How often the window reads the counters: ten times a second moves a bar smoothly enough,
// and takes little from the start beside it (under Wine every wake-up is a call to the one
// server process that the unpacking's file calls go through too). Once the child has
// started, also the longest wait for its readiness between two looks at the window's own
// messages; the wait itself ends the moment the child is ready.
constexpr DWORD refresh_ms = 100;
// Address space kept for the window thread's stack; pages are committed as used. USER32 and
// the display driver under it need more than a few pages, far less than the main thread's.
constexpr SIZE_T window_thread_stack_size = SIZE_T{1} << 20;

// The image's own icon group, as talvik pack writes it.
constexpr WORD image_icon_id = 1;

// Layout in pixels of the client area (at 96 dpi; the image is not DPI-aware, so the
// system scales the window as a whole).
constexpr int client_width = 420;
constexpr int margin = 18;
constexpr int icon_size = 32;
constexpr int icon_gap = 14;
constexpr int text_top = 14;
constexpr int text_height = 22;
constexpr int bar_top = 40;
constexpr int bar_height = 12;
constexpr int client_height = bar_top + bar_height + margin;
// The moving block of a bar without a known total, against the bar's inner width.
constexpr uint32_t moving_block_parts = 4;

// The fixed words and a product name of up to about 980 units; with a longer one (which
// would not fit the window anyway) the window is left out.
constexpr size_t line_capacity = 1024;

constexpr wchar_t window_class_name[] = L"TalvikProgressWindow";

// Set by the main thread before it sets child_started; the window thread takes it over and
// closes it. Null when no handle could be made for it.
HANDLE child_for_window;
// Set once the child has started; never reset. Null when no thread was started.
HANDLE child_started;

// The calls of USER32 and GDI32 that the window makes, found at run time.
struct WindowCalls {
    decltype(&RegisterClassExW) register_class;
    decltype(&UnregisterClassW) unregister_class;
    decltype(&CreateWindowExW) create_window;
    decltype(&DestroyWindow) destroy_window;
    decltype(&DefWindowProcW) default_window_procedure;
    decltype(&ShowWindow) show_window;
    decltype(&PeekMessageW) peek_message;
    decltype(&DispatchMessageW) dispatch_message;
    decltype(&MsgWaitForMultipleObjects) wait_for_messages;
    decltype(&PostQuitMessage) post_quit_message;
    decltype(&InvalidateRect) invalidate_rect;
    decltype(&BeginPaint) begin_paint;
    decltype(&EndPaint) end_paint;
    decltype(&FillRect) fill_rect;
    decltype(&FrameRect) frame_rect;
    decltype(&DrawTextW) draw_text;
    decltype(&DrawIconEx) draw_icon;
    decltype(&GetSysColor) system_color;
    decltype(&GetSysColorBrush) system_color_brush;
    decltype(&LoadImageW) load_image;
    decltype(&GetSystemMetrics) system_metrics;
    decltype(&SystemParametersInfoW) system_parameters;
    decltype(&AdjustWindowRectEx) adjust_window_rect;
    decltype(&WaitForInputIdle) wait_for_input_idle;
    decltype(&AllowSetForegroundWindow) allow_set_foreground_window;
    decltype(&CreateFontIndirectW) create_font;
    decltype(&SelectObject) select_object;
    decltype(&DeleteObject) delete_object;
    decltype(&SetBkMode) set_background_mode;
    decltype(&SetTextColor) set_text_color;
};

WindowCalls calls;
HMODULE user32;
HMODULE gdi32;

// What the window shows, kept by the window thread alone.
HFONT message_font;
HICON large_icon;
wchar_t line[line_capacity];
bool line_says_writing;
// The bar: filled units of a known total, or the moving block's left edge without one.
int32_t bar_shown;

template <typename Call> bool resolve(HMODULE module, const char* name, Call* call) {
    // Through a plain function pointer first: GetProcAddress's type has no parameters.
    *call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return *call != nullptr;
}

bool resolve_user32() {
    return resolve(user32, "RegisterClassExW", &calls.register_class) &&
           resolve(user32, "UnregisterClassW", &calls.unregister_class) &&
           resolve(user32, "CreateWindowExW", &calls.create_window) &&
           resolve(user32, "DestroyWindow", &calls.destroy_window) &&
           resolve(user32, "DefWindowProcW", &calls.default_window_procedure) &&
           resolve(user32, "ShowWindow", &calls.show_window) &&
           resolve(user32, "PeekMessageW", &calls.peek_message) &&
           resolve(user32, "DispatchMessageW", &calls.dispatch_message) &&
           resolve(user32, "MsgWaitForMultipleObjects", &calls.wait_for_messages) &&
           resolve(user32, "PostQuitMessage", &calls.post_quit_message) &&
           resolve(user32, "InvalidateRect", &calls.invalidate_rect) &&
           resolve(user32, "BeginPaint", &calls.begin_paint) &&
           resolve(user32, "EndPaint", &calls.end_paint) && resolve(user32, "FillRect", &calls.fill_rect) &&
           resolve(user32, "FrameRect", &calls.frame_rect) &&
           resolve(user32, "DrawTextW", &calls.draw_text) &&
           resolve(user32, "DrawIconEx", &calls.draw_icon) &&
           resolve(user32, "GetSysColor", &calls.system_color) &&
           resolve(user32, "GetSysColorBrush", &calls.system_color_brush) &&
           resolve(user32, "LoadImageW", &calls.load_image) &&
           resolve(user32, "GetSystemMetrics", &calls.system_metrics) &&
           resolve(user32, "SystemParametersInfoW", &calls.system_parameters) &&
           resolve(user32, "AdjustWindowRectEx", &calls.adjust_window_rect) &&
           resolve(user32, "WaitForInputIdle", &calls.wait_for_input_idle) &&
           resolve(user32, "AllowSetForegroundWindow", &calls.allow_set_foreground_window);
}

bool resolve_gdi32() {
    return resolve(gdi32, "CreateFontIndirectW", &calls.create_font) &&
           resolve(gdi32, "SelectObject", &calls.select_object) &&
           resolve(gdi32, "DeleteObject", &calls.delete_object) &&
           resolve(gdi32, "SetBkMode", &calls.set_background_mode) &&
           resolve(gdi32, "SetTextColor", &calls.set_text_color);
}

// Both are among the system's known DLLs: the search order cannot put another in their place.
bool load_window_calls() {
    user32 = LoadLibraryW(L"user32.dll");
    gdi32 = LoadLibraryW(L"gdi32.dll");
    return user32 != nullptr && gdi32 != nullptr && resolve_user32() && resolve_gdi32();
}

void unload_window_calls() {
    if (gdi32 != nullptr) {
        FreeLibrary(gdi32);
    }
    if (user32 != nullptr) {
        FreeLibrary(user32);
    }
}

int text_left() {
    return large_icon != nullptr ? margin + icon_size + icon_gap : margin;
}

RECT text_rect() {
    return RECT{text_left(), text_top, client_width - margin, text_top + text_height};
}

RECT bar_rect() {
    return RECT{text_left(), bar_top, client_width - margin, bar_top + bar_height};
}

// Inside the bar's one-pixel frame.
uint32_t bar_inner_width() {
    RECT bar = bar_rect();
    return static_cast<uint32_t>(bar.right - bar.left - 2);
}

// The bar's state now: filled units, or the moving block's left edge when the total is not known.
int32_t current_bar() {
    uint64_t total = talvik_entry_stream_length();
    uint32_t width = bar_inner_width();
    if (total == 0) {
        return moving_block_left(GetTickCount64(), width, width / moving_block_parts);
    }
    return static_cast<int32_t>(progress_fill(decoded_bytes_so_far(), total, width));
}

// Recomposes the line when the start has begun to write; false when it cannot be shown.
bool refresh_line() {
    bool writing = files_written_so_far() > 0;
    if (line[0] != 0 && writing == line_says_writing) {
        return true;
    }
    line_says_writing = writing;
    return compose_progress_line(line, line_capacity, talvik_product_name(), writing);
}

void paint_bar(HDC context) {
    RECT bar = bar_rect();
    calls.frame_rect(context, &bar, calls.system_color_brush(COLOR_BTNSHADOW));
    RECT inner{bar.left + 1, bar.top + 1, bar.right - 1, bar.bottom - 1};
    calls.fill_rect(context, &inner, calls.system_color_brush(COLOR_BTNFACE));
    int32_t width = static_cast<int32_t>(bar_inner_width());
    int32_t from = 0;
    int32_t to = bar_shown;
    if (talvik_entry_stream_length() == 0) {
        from = bar_shown < 0 ? 0 : bar_shown;
        to = bar_shown + width / static_cast<int32_t>(moving_block_parts);
        to = to > width ? width : to;
    }
    if (to > from) {
        RECT filled{inner.left + from, inner.top, inner.left + to, inner.bottom};
        calls.fill_rect(context, &filled, calls.system_color_brush(COLOR_HIGHLIGHT));
    }
}

void paint(HWND window) {
    PAINTSTRUCT paint_info;
    HDC context = calls.begin_paint(window, &paint_info);
    if (context == nullptr) {
        return;
    }
    // Most repaints are of the bar alone, which paint_bar covers pixel by pixel.
    if (paint_info.rcPaint.top < bar_top) {
        RECT client{0, 0, client_width, client_height};
        calls.fill_rect(context, &client, calls.system_color_brush(COLOR_WINDOW));
        if (large_icon != nullptr) {
            calls.draw_icon(context, margin, (client_height - icon_size) / 2, large_icon, icon_size,
                            icon_size, 0, nullptr, DI_NORMAL);
        }
        HGDIOBJ previous_font =
            message_font != nullptr ? calls.select_object(context, message_font) : nullptr;
        calls.set_background_mode(context, TRANSPARENT);
        calls.set_text_color(context, calls.system_color(COLOR_WINDOWTEXT));
        RECT text = text_rect();
        calls.draw_text(context, line, -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
        if (previous_font != nullptr) {
            calls.select_object(context, previous_font);
        }
    }
    paint_bar(context);
    calls.end_paint(window, &paint_info);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_ERASEBKGND:
        // WM_PAINT covers every pixel; erasing first would only flicker.
        return 1;
    case WM_DESTROY:
        calls.post_quit_message(0);
        return 0;
    default:
        return calls.default_window_procedure(window, message, wparam, lparam);
    }
}

// The system's font for message text; the window keeps the stock system font without it.
void create_message_font() {
    NONCLIENTMETRICSW metrics;
    memset(&metrics, 0, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    if (calls.system_parameters(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        message_font = calls.create_font(&metrics.lfMessageFont);
    }
}

HICON load_image_icon(int width_metric, int height_metric) {
    return static_cast<HICON>(calls.load_image(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(image_icon_id),
                                               IMAGE_ICON, calls.system_metrics(width_metric),
                                               calls.system_metrics(height_metric), LR_SHARED));
}

HWND create_window() {
    HINSTANCE image = GetModuleHandleW(nullptr);
    // Shared icons, in the system's standard sizes, belong to the image's module: nothing to
    // destroy. Without one the window shows the system's.
    large_icon = load_image_icon(SM_CXICON, SM_CYICON);
    HICON small_icon = load_image_icon(SM_CXSMICON, SM_CYSMICON);
    WNDCLASSEXW window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = image;
    window_class.hIcon = large_icon;
    window_class.hIconSm = small_icon;
    window_class.lpszClassName = window_class_name;
    if (calls.register_class(&window_class) == 0) {
        return nullptr;
    }
    create_message_font();

    // A caption with the image's icon, the product name and a close button, which only
    // hides the progress; no resizing, minimising or maximising.
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT frame{0, 0, client_width, client_height};
    calls.adjust_window_rect(&frame, style, FALSE, 0);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    RECT work_area{0, 0, calls.system_metrics(SM_CXSCREEN), calls.system_metrics(SM_CYSCREEN)};
    calls.system_parameters(SPI_GETWORKAREA, 0, &work_area, 0);
    int left = work_area.left + (work_area.right - work_area.left - width) / 2;
    int top = work_area.top + (work_area.bottom - work_area.top - height) / 2;
    HWND window = calls.create_window(0, window_class_name, talvik_product_name(), style, left, top, width,
                                      height, nullptr, nullptr, image, nullptr);
    if (window == nullptr) {
        calls.unregister_class(window_class_name, image);
    }
    return window;
}

void release_window_resources() {
    calls.unregister_class(window_class_name, GetModuleHandleW(nullptr));
    if (message_font != nullptr) {
        calls.delete_object(message_font);
        message_font = nullptr;
    }
}

// Whether the window has done its job, waiting up to refresh_ms for it: the child is ready
// for input, has ended, or has had its time. A child without a handle counts as ready.
bool child_ready(HANDLE child, ULONGLONG started_at) {
    if (child == nullptr) {
        return true;
    }
    // Also over at once for a child that has ended, and with WAIT_FAILED for a console
    // program, which has no input queue to be ready with.
    if (calls.wait_for_input_idle(child, refresh_ms) != WAIT_TIMEOUT) {
        return true;
    }
    return WaitForSingleObject(child, 0) != WAIT_TIMEOUT ||
           GetTickCount64() - started_at >= child_ready_bound_ms;
}

// Reads the counters and repaints what changed.
void refresh(HWND window) {
    bool writing = line_says_writing;
    refresh_line();
    if (writing != line_says_writing) {
        RECT text = text_rect();
        calls.invalidate_rect(window, &text, FALSE);
    }
    int32_t bar = current_bar();
    if (bar != bar_shown) {
        bar_shown = bar;
        RECT area = bar_rect();
        calls.invalidate_rect(window, &area, FALSE);
    }
}

// Takes every waiting message; false once the window is gone.
bool take_messages() {
    MSG message;
    while (calls.peek_message(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            return false;
        }
        calls.dispatch_message(&message);
    }
    return true;
}

// Shows the window and keeps it up until the child is ready (or a failure box opens, or the
// user closes it). Returns at once when it cannot be shown.
void show_until_child_ready() {
    if (!refresh_line()) {
        return;
    }
    HWND window = create_window();
    if (window == nullptr) {
        return;
    }
    // The bar's width depends on whether the icon came.
    bar_shown = current_bar();
    calls.show_window(window, SW_SHOWNORMAL);

    HANDLE child = nullptr;
    bool child_seen = false;
    ULONGLONG child_seen_at = 0;
    for (;;) {
        // Until the child starts, woken by a message, by the start or by the refresh interval;
        // after, child_ready waits.
        if (!child_seen) {
            calls.wait_for_messages(1, &child_started, FALSE, refresh_ms, QS_ALLINPUT);
        }
        if (!take_messages()) {
            // Closed by the user: the start goes on without it.
            break;
        }
        if (!child_seen && WaitForSingleObject(child_started, 0) == WAIT_OBJECT_0) {
            child_seen = true;
            child_seen_at = GetTickCount64();
            child = child_for_window;
            // The window has the foreground; the child may take it over for its own.
            if (child != nullptr) {
                calls.allow_set_foreground_window(GetProcessId(child));
            }
        }
        if ((child_seen && child_ready(child, child_seen_at)) || failure_box_opening()) {
            calls.destroy_window(window);
            // WM_DESTROY has posted the quit message; take it.
            take_messages();
            break;
        }
        refresh(window);
    }
    release_window_resources();
}

DWORD WINAPI run_progress_window(void*) {
    if (WaitForSingleObject(child_started, slow_start_ms) == WAIT_TIMEOUT) {
        if (load_window_calls()) {
            show_until_child_ready();
        }
        unload_window_calls();
        // The child's handle is this thread's to close, whenever it comes.
        WaitForSingleObject(child_started, INFINITE);
    }
    if (child_for_window != nullptr) {
        CloseHandle(child_for_window);
    }
    return 0;
}

} // namespace

void start_progress_window() {
    if (!running_image_is_windowed() || talvik_progress_window() != progress_window_when_slow) {
        return;
    }
    child_started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (child_started == nullptr) {
        return;
    }
    HANDLE thread = CreateThread(nullptr, window_thread_stack_size, run_progress_window, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        CloseHandle(child_started);
        child_started = nullptr;
        return;
    }
    // The thread runs on by itself; nothing waits for it.
    CloseHandle(thread);
}

void hand_child_to_progress_window(HANDLE child) {
    if (child_started == nullptr) {
        return;
    }
    HANDLE duplicate = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), child, GetCurrentProcess(), &duplicate, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
        child_for_window = duplicate;
    }
    // A full barrier: the thread that sees the event sees the handle.
    SetEvent(child_started);
}
