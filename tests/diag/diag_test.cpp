// The failure channel: each message on its stream, in its form, with its exit status.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/decimal.hpp"
#include "diag/exit_status.hpp"
#include "diag/messages.hpp"
#include "diag/output.hpp"
#include "diag/report.hpp"
#include "diag/stop.hpp"
#include "diag/windowed_image.hpp"
#include "tests/support/recorded_message_box.hpp"
#include "tests/support/whole_file.hpp"

void PrintTo(const RecordedMessageBox& box, std::ostream* out) {
    *out << "box \"" << box.title << "\": \"" << box.text << "\" style " << box.style;
}

namespace {

std::string temp_file_path(const std::string& tag) {
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    return std::string(directory) + "talvik-diag-" + tag + ".txt";
}

// Points a standard handle at a new file, so that a death test's child writes there.
void redirect_to_file(DWORD which, const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetStdHandle(which, file);
}

std::string read_file(const std::string& path) {
    return read_whole_file(std::wstring(path.begin(), path.end()));
}

// What the launcher pretends to be in a death-test child, and what it is given to write to.
enum class ImageKind { console, windowed };
enum class StandardHandles { files, none };

// A windowed launcher differs from a console one only in its header's Subsystem field, which
// the diag code reads from the running image: the test program's own header, changed in
// memory. Only death-test children do it, and they end right after.
void pretend_windowed_image() {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleW(nullptr));
    auto* headers =
        reinterpret_cast<IMAGE_NT_HEADERS64*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    WORD* subsystem = &headers->OptionalHeader.Subsystem;
    DWORD protection = 0;
    VirtualProtect(subsystem, sizeof *subsystem, PAGE_READWRITE, &protection);
    *subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
    VirtualProtect(subsystem, sizeof *subsystem, protection, &protection);
}

// Both message streams to files, or neither to anything (as for a program started from
// Explorer).
void give_standard_handles(StandardHandles handles, const std::string& out_path,
                           const std::string& err_path) {
    if (handles == StandardHandles::files) {
        redirect_to_file(STD_OUTPUT_HANDLE, out_path);
        redirect_to_file(STD_ERROR_HANDLE, err_path);
    } else {
        SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
        SetStdHandle(STD_ERROR_HANDLE, nullptr);
    }
}

// What a reporting call in a death-test child wrote to its files and showed in message boxes.
struct Captured {
    std::string out;
    std::string err;
    std::vector<RecordedMessageBox> boxes;
};

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// A death-test child runs the test body up to its own statement, reading files that the
// parent's earlier runs left, so no ASSERT may stand between two runs: it would end the
// child's test body before the statement.
#define EXPECT_RUN(statement, kind, handles, status, captured)                                               \
    do {                                                                                                     \
        std::string out_path = temp_file_path(std::string(test_info_->name()) + "-out");                     \
        std::string err_path = temp_file_path(std::string(test_info_->name()) + "-err");                     \
        std::string box_path = temp_file_path(std::string(test_info_->name()) + "-box");                     \
        DeleteFileA(out_path.c_str());                                                                       \
        DeleteFileA(err_path.c_str());                                                                       \
        DeleteFileA(box_path.c_str());                                                                       \
        EXPECT_EXIT(                                                                                         \
            {                                                                                                \
                if ((kind) == ImageKind::windowed) {                                                         \
                    pretend_windowed_image();                                                                \
                }                                                                                            \
                record_message_boxes_in(wide(box_path));                                                     \
                give_standard_handles(handles, out_path, err_path);                                          \
                statement;                                                                                   \
            },                                                                                               \
            ::testing::ExitedWithCode(status), "");                                                          \
        (captured).out = read_file(out_path);                                                                \
        (captured).err = read_file(err_path);                                                                \
        (captured).boxes = read_recorded_message_boxes(wide(box_path));                                      \
    } while (0)

// A console launcher writing to files, as every report test but the windowed ones runs.
#define EXPECT_REPORT(statement, status, captured)                                                           \
    EXPECT_RUN(statement, ImageKind::console, StandardHandles::files, status, captured)

class ReportTest : public ::testing::Test {
  protected:
    const ::testing::TestInfo* test_info_ = ::testing::UnitTest::GetInstance()->current_test_info();
};

TEST_F(ReportTest, FixedMessagesGoToStandardOutputWithStatusTwo) {
    struct Case {
        void (*report)();
        const char* text;
    };
    const Case cases[] = {
        {report_header_missing, "Error, couldn't find attached data header.\r\n"},
        {report_allocation_failure, "Error, couldn't allocate memory.\r\n"},
        {report_decode_failure, "Error, couldn't decode attached data.\r\n"},
        {[] { report_error_and_exit(message_handler_registration_failed); },
         "Error, failed to register signal handler.\r\n"},
    };
    for (const Case& c : cases) {
        Captured captured;
        EXPECT_REPORT(c.report(), reported_failure_status, captured);
        EXPECT_EQ(captured.out, c.text);
        EXPECT_EQ(captured.err, "");
    }
}

TEST_F(ReportTest, LaunchFailureUsesSystemErrorFormOnStandardError) {
    Captured captured;
    EXPECT_REPORT(report_launch_failure(ERROR_FILE_NOT_FOUND), reported_failure_status, captured);
    EXPECT_EQ(captured.out, "");
    const std::string prefix = "Error, couldn't launch child ([Error 2] ";
    ASSERT_EQ(captured.err.compare(0, prefix.size(), prefix), 0) << captured.err;
    // The system text loses its own line break; the line ends in ")" and the line end, once.
    ASSERT_GE(captured.err.size(), prefix.size() + 3);
    EXPECT_EQ(captured.err.substr(captured.err.size() - 3), ")\r\n");
    EXPECT_EQ(captured.err.find('\n'), captured.err.size() - 1);
    EXPECT_GT(captured.err.size(), prefix.size() + 3) << "system text missing";
}

TEST_F(ReportTest, UnpackFailureReadsTheLastErrorWhenCalled) {
    Captured captured;
    EXPECT_REPORT(
        {
            SetLastError(ERROR_DISK_FULL);
            report_unpack_failure();
        },
        reported_failure_status, captured);
    EXPECT_EQ(captured.err.rfind("Error, couldn't unpack file to target path. ([Error 112] ", 0), 0u)
        << captured.err;
}

TEST_F(ReportTest, CodesFromTheTopBitUpPrintAsNegativeNumbers) {
    struct Case {
        uint32_t code;
        const char* shown;
    };
    const Case cases[] = {{0x80000000u, "[Error -2147483648]"},
                          {0xC0000005u, "[Error -1073741819]"},
                          {0xFFFFFFFFu, "[Error -1]"},
                          {0x7FFFFFFFu, "[Error 2147483647]"}};
    for (const Case& c : cases) {
        Captured captured;
        EXPECT_REPORT(report_launch_failure(c.code), reported_failure_status, captured);
        EXPECT_NE(captured.err.find(c.shown), std::string::npos) << captured.err;
        EXPECT_EQ(captured.err.substr(captured.err.size() - 3), ")\r\n");
    }
}

TEST_F(ReportTest, OpenFailureQuotesTheEntryPath) {
    Captured captured;
    EXPECT_REPORT(report_open_failure(L"C:\\cache\\Orrin-Deck\\data\\level 1.bin"), reported_failure_status,
                  captured);
    EXPECT_EQ(captured.out, "");
    EXPECT_EQ(captured.err,
              "Error, failed to open 'C:\\cache\\Orrin-Deck\\data\\level 1.bin' for writing.\r\n");
}

// The abnormal stop must be told apart from both a reported failure and success.
static_assert(abnormal_stop_status != reported_failure_status);
static_assert(abnormal_stop_status != 0u);

TEST_F(ReportTest, ExpandFailureQuotesTheTemplateAndStopsAbnormally) {
    Captured captured;
    EXPECT_REPORT(report_expand_failure(L"{CACHE_DIR}\\{FOO}\\x"), abnormal_stop_status, captured);
    EXPECT_EQ(captured.out, "");
    EXPECT_EQ(captured.err, "Error, couldn't runtime expand spec '{CACHE_DIR}\\{FOO}\\x'.\r\n");
}

TEST_F(ReportTest, LimitStopIsSilentAndAbnormal) {
    Captured captured;
    EXPECT_REPORT(stop_at_limit(), abnormal_stop_status, captured);
    EXPECT_EQ(captured.out, "");
    EXPECT_EQ(captured.err, "");
}

// Every failure that prints a line, with the status it ends with.
struct Failure {
    const char* name;
    void (*report)();
    unsigned status;
};

const Failure every_failure[] = {
    {"header", report_header_missing, reported_failure_status},
    {"allocation", report_allocation_failure, reported_failure_status},
    {"decode", report_decode_failure, reported_failure_status},
    {"handler registration", [] { report_error_and_exit(message_handler_registration_failed); },
     reported_failure_status},
    {"unpack",
     [] {
         SetLastError(ERROR_DISK_FULL);
         report_unpack_failure();
     },
     reported_failure_status},
    {"launch", [] { report_launch_failure(ERROR_FILE_NOT_FOUND); }, reported_failure_status},
    {"open", [] { report_open_failure(L"C:\\cache\\Orrin-Deck\\data\\level 1.bin"); },
     reported_failure_status},
    {"expand", [] { report_expand_failure(L"{CACHE_DIR}\\{FOO}\\x"); }, abnormal_stop_status},
};

// The line without its line end, as a message box shows it.
std::string without_line_end(const std::string& line) {
    return line.ends_with("\r\n") ? line.substr(0, line.size() - 2) : line;
}

// The one call a windowed launcher makes for a line: an error box titled with the product name.
std::vector<RecordedMessageBox> error_box(const std::string& text) {
    return {{"Orrin Deck", text, static_cast<unsigned>(MB_OK | MB_ICONERROR)}};
}

using WindowedReportTest = ReportTest;

// Each failure four ways: a console image writing to files gives the line; a windowed one
// with files writes the same; a windowed one without handles shows that line in an error box
// titled with the product name; a console one without handles shows nothing. The status is
// the same every time.
TEST_F(WindowedReportTest, EachFailureShowsItsLineInABoxOnlyWhenWindowedWithoutAHandle) {
    for (const Failure& failure : every_failure) {
        SCOPED_TRACE(failure.name);
        Captured console;
        EXPECT_RUN(failure.report(), ImageKind::console, StandardHandles::files, failure.status, console);
        const std::string line = console.out + console.err;
        EXPECT_TRUE(line.ends_with("\r\n")) << line;

        Captured windowed_with_files;
        EXPECT_RUN(failure.report(), ImageKind::windowed, StandardHandles::files, failure.status,
                   windowed_with_files);
        EXPECT_EQ(windowed_with_files.out, console.out);
        EXPECT_EQ(windowed_with_files.err, console.err);
        EXPECT_TRUE(windowed_with_files.boxes.empty());

        Captured windowed;
        EXPECT_RUN(failure.report(), ImageKind::windowed, StandardHandles::none, failure.status, windowed);
        EXPECT_EQ(windowed.boxes, error_box(without_line_end(line)));

        Captured console_without_handles;
        EXPECT_RUN(failure.report(), ImageKind::console, StandardHandles::none, failure.status,
                   console_without_handles);
        EXPECT_TRUE(console_without_handles.boxes.empty());
    }
}

TEST_F(WindowedReportTest, EachStreamIsJudgedByItsOwnHandle) {
    // Standard output missing, standard error a file: the fixed message takes the box, the
    // system error form the file.
    Captured fixed;
    EXPECT_RUN(
        {
            SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
            report_header_missing();
        },
        ImageKind::windowed, StandardHandles::files, reported_failure_status, fixed);
    EXPECT_EQ(fixed.boxes, error_box("Error, couldn't find attached data header."));
    EXPECT_EQ(fixed.err, "");

    Captured system_error;
    EXPECT_RUN(
        {
            SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
            report_launch_failure(ERROR_FILE_NOT_FOUND);
        },
        ImageKind::windowed, StandardHandles::files, reported_failure_status, system_error);
    EXPECT_TRUE(system_error.boxes.empty());
    EXPECT_TRUE(system_error.err.starts_with("Error, couldn't launch child ([Error 2] ")) << system_error.err;
}

TEST_F(WindowedReportTest, AHandleValueThatIsNotOpenCountsAsNone) {
    // What a parent may leave in the start-up data without passing the handle on: a value
    // that no longer names an open handle here, or a handle of an object other than a file.
    Captured closed;
    EXPECT_RUN(
        {
            HANDLE file = CreateFileW(L"NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            CloseHandle(file);
            SetStdHandle(STD_OUTPUT_HANDLE, file);
            report_header_missing();
        },
        ImageKind::windowed, StandardHandles::files, reported_failure_status, closed);
    EXPECT_EQ(closed.boxes, error_box("Error, couldn't find attached data header."));

    Captured event;
    EXPECT_RUN(
        {
            SetStdHandle(STD_ERROR_HANDLE, CreateEventW(nullptr, TRUE, FALSE, nullptr));
            report_launch_failure(ERROR_ACCESS_DENIED);
        },
        ImageKind::windowed, StandardHandles::files, reported_failure_status, event);
    ASSERT_EQ(event.boxes.size(), 1u);
    EXPECT_TRUE(event.boxes[0].text.starts_with("Error, couldn't launch child ([Error 5] "))
        << event.boxes[0].text;
    EXPECT_TRUE(event.boxes[0].text.ends_with(")")) << event.boxes[0].text;
}

TEST_F(WindowedReportTest, LimitStopStaysSilent) {
    Captured captured;
    EXPECT_RUN(stop_at_limit(), ImageKind::windowed, StandardHandles::none, abnormal_stop_status, captured);
    EXPECT_TRUE(captured.boxes.empty());
}

TEST(WindowedImage, TheRunningImageSaysWhichKindItIs) {
    EXPECT_FALSE(running_image_is_windowed()) << "test programs are console programs";
    EXPECT_EXIT(
        {
            pretend_windowed_image();
            exit(running_image_is_windowed() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(PrintOsError, ReturnsAfterOneLine) {
    std::string path = temp_file_path("print-returns");
    HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
    redirect_to_file(STD_ERROR_HANDLE, path);
    HANDLE file = GetStdHandle(STD_ERROR_HANDLE);
    print_os_error("Error, something", ERROR_ACCESS_DENIED);
    SetStdHandle(STD_ERROR_HANDLE, saved);
    CloseHandle(file);
    std::string text = read_file(path);
    EXPECT_EQ(text.rfind("Error, something ([Error 5] ", 0), 0u) << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1);
}

TEST(TrimTrailingLineBreaks, RemovesOnlyTrailingCarriageReturnsAndLineFeeds) {
    struct Case {
        const char* text;
        const char* trimmed;
    };
    const Case cases[] = {
        {"Access is denied.\r\n", "Access is denied."},
        {"\r\n", ""},
        {"\n\r\n\r", ""},
        {"two\r\nlines\r\n", "two\r\nlines"},
        {"blank after \r\n", "blank after "},
        {"no break", "no break"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string buffer = c.text;
        uint32_t length = trim_trailing_line_breaks(buffer.data(), static_cast<uint32_t>(buffer.size()));
        EXPECT_EQ(std::string(buffer.c_str()), c.trimmed);
        EXPECT_EQ(length, strlen(c.trimmed));
    }
}

TEST(MessageLine, NarrowsUnitsWithoutAnAsciiFormToOneQuestionMarkPerCharacter) {
    static MessageLine line;
    line_start(line);
    // Latin-1, CJK, a surrogate pair (one character), a lone high surrogate at the end.
    line_append_wide(line, L"a\u00e9b\u65e5\U0001F600c\xD800");
    EXPECT_EQ(std::string(line.text), "a?b??c?");
}

TEST(MessageLine, NeverRunsPastItsCapacity) {
    static MessageLine line;
    line_start(line);
    std::string long_text(MessageLine::capacity * 2, 'x');
    line_append(line, long_text.c_str());
    EXPECT_EQ(line.length, MessageLine::capacity - 1);
    EXPECT_EQ(line.text[line.length], 0);
}

TEST(FormatDecimal, SignedValuesPaddingAndRoom) {
    char text[32];
    EXPECT_EQ(format_decimal(text, sizeof text, 0, 1), 1u);
    EXPECT_STREQ(text, "0");
    EXPECT_EQ(format_decimal(text, sizeof text, 42, 6), 6u);
    EXPECT_STREQ(text, "000042");
    format_decimal(text, sizeof text, -2147483648LL, 1);
    EXPECT_STREQ(text, "-2147483648");
    format_decimal(text, sizeof text, INT64_MIN, 1);
    EXPECT_STREQ(text, "-9223372036854775808");
    format_decimal(text, sizeof text, 133792704000000000LL, 1);
    EXPECT_STREQ(text, "133792704000000000");
    // Exactly fits with the terminator, then one short.
    EXPECT_EQ(format_decimal(text, 4, 123, 1), 3u);
    text[0] = 'z';
    EXPECT_EQ(format_decimal(text, 3, 123, 1), 0u);
    EXPECT_EQ(text[0], 'z');
}

} // namespace
