// The failure channel: each message on its stream, in its form, with its exit status.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "diag/decimal.hpp"
#include "diag/exit_status.hpp"
#include "diag/messages.hpp"
#include "diag/output.hpp"
#include "diag/report.hpp"
#include "diag/stop.hpp"
#include "launcher/process_state.hpp"
#include "tests/support/whole_file.hpp"

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

// Runs a reporting call in a death-test child with both streams sent to files; returns them.
struct Captured {
    std::string out;
    std::string err;
};

#define EXPECT_REPORT(statement, status, captured)                                                           \
    do {                                                                                                     \
        std::string out_path = temp_file_path(std::string(test_info_->name()) + "-out");                     \
        std::string err_path = temp_file_path(std::string(test_info_->name()) + "-err");                     \
        DeleteFileA(out_path.c_str());                                                                       \
        DeleteFileA(err_path.c_str());                                                                       \
        EXPECT_EXIT(                                                                                         \
            {                                                                                                \
                redirect_to_file(STD_OUTPUT_HANDLE, out_path);                                               \
                redirect_to_file(STD_ERROR_HANDLE, err_path);                                                \
                statement;                                                                                   \
            },                                                                                               \
            ::testing::ExitedWithCode(status), "");                                                          \
        (captured).out = read_file(out_path);                                                                \
        (captured).err = read_file(err_path);                                                                \
    } while (0)

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
    EXPECT_REPORT(
        {
            lstrcpyW(entry_path, L"C:\\cache\\Orrin-Deck\\data\\level 1.bin");
            report_open_failure();
        },
        reported_failure_status, captured);
    EXPECT_EQ(captured.out, "");
    EXPECT_EQ(captured.err,
              "Error, failed to open 'C:\\cache\\Orrin-Deck\\data\\level 1.bin' for writing.\r\n");
}

TEST_F(ReportTest, ExpandFailureQuotesTheTemplateAndStopsAbnormally) {
    Captured captured;
    EXPECT_REPORT(report_expand_failure(L"{CACHE_DIR}\\{FOO}\\x"), abnormal_stop_status, captured);
    EXPECT_NE(abnormal_stop_status, reported_failure_status);
    EXPECT_NE(abnormal_stop_status, 0u);
    EXPECT_EQ(captured.out, "");
    EXPECT_EQ(captured.err, "Error, couldn't runtime expand spec '{CACHE_DIR}\\{FOO}\\x'.\r\n");
}

TEST_F(ReportTest, LimitStopIsSilentAndAbnormal) {
    Captured captured;
    EXPECT_REPORT(stop_at_limit(), abnormal_stop_status, captured);
    EXPECT_EQ(captured.out, "");
    EXPECT_EQ(captured.err, "");
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
