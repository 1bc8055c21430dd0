// The lock that makes one launcher at a time the writer of a target directory: its name,
// the start that needs none, and every way it can be unavailable or left behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/extraction_lock.hpp"
#include "payload_test_support.hpp"

namespace {

std::wstring lock_name_of(const std::wstring& directory) {
    make_extraction_lock_name(directory.c_str());
    return extraction_lock_name;
}

std::vector<PayloadSource> two_files() {
    return {{u"first.txt", {}, "the first file"}, {u"second\\deeper.txt", {}, pattern(70000, 9)}};
}

void expect_two_files(const std::wstring& target) {
    EXPECT_EQ(read_file(target + L"\\first.txt"), "the first file");
    EXPECT_TRUE(read_file(target + L"\\second\\deeper.txt") == pattern(70000, 9));
}

TEST(PayloadExtractionLock, NameFollowsTheDirectoryAsWindowsComparesPaths) {
    const std::wstring directory = L"C:\\Users\\Ann\\AppData\\Local\\\u00C4pfel\\\u03A9mega\\1.20";
    const std::wstring name = lock_name_of(directory);
    const std::wstring prefix = L"Global\\talvik-unpack-";
    ASSERT_EQ(name.rfind(prefix, 0), 0u) << to_ascii(name);
    EXPECT_EQ(name.size(), prefix.size() + 16 + 1 + 16);
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef-", prefix.size()), std::wstring::npos);

    // Other case, ASCII and not: the same directory, the same lock.
    EXPECT_EQ(lock_name_of(L"c:\\users\\ANN\\appdata\\LOCAL\\\u00E4PFEL\\\u03C9MEGA\\1.20"), name);
    // Other directories, however close: other locks.
    for (const wchar_t* other : {L"C:\\Users\\Ann\\AppData\\Local\\\u00C4pfel\\\u03A9mega\\1.21",
                                 L"C:\\Users\\Ann\\AppData\\Local\\\u00C4pfel\\\u03A9mega",
                                 L"C:\\Users\\Ann\\AppData\\Local\\Apfel\\\u03A9mega\\1.20",
                                 L"D:\\Users\\Ann\\AppData\\Local\\\u00C4pfel\\\u03A9mega\\1.20"}) {
        EXPECT_NE(lock_name_of(other), name) << to_ascii(other);
    }
    // The profile's part is the same for every directory of this user.
    EXPECT_EQ(lock_name_of(L"C:\\elsewhere").substr(name.size() - 16), name.substr(name.size() - 16));
    // The request event is named after the mutex.
    lock_name_of(directory);
    EXPECT_EQ(std::wstring(extraction_waiting_name), name + L"-waiting");
}

TEST(PayloadExtractionLock, StartOverAnIntactTreeCreatesNoLock) {
    const std::wstring target = fresh_directory();
    const Bytes block = attached_data_for(two_files());
    extract_here(block, target);
    EXPECT_TRUE(extraction_lock.tried) << "a cold start writes under the lock";
    EXPECT_FALSE(extraction_lock.given_up);
    EXPECT_EQ(extraction_lock.mutex, nullptr) << "closed when the extraction ends";
    EXPECT_FALSE(extraction_lock.held);

    extract_here(block, target);
    EXPECT_FALSE(extraction_lock.tried);
    expect_two_files(target);
}

TEST(PayloadExtractionLock, RequestThroughTheEventIsAnswered) {
    const std::wstring target = fresh_directory();
    lock_name_of(target);
    HANDLE waiting = CreateEventW(nullptr, TRUE, TRUE, extraction_waiting_name);
    ASSERT_NE(waiting, nullptr);
    extract_here(attached_data_for(two_files()), target);
    EXPECT_EQ(WaitForSingleObject(waiting, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the holder gave the lock up";
    expect_two_files(target);
    CloseHandle(waiting);
}

TEST(PayloadExtractionLock, WithoutTheEventTheHolderGivesTheLockUpAfterEachFile) {
    const std::wstring target = fresh_directory();
    lock_name_of(target);
    HANDLE other_kind = CreateMutexW(nullptr, FALSE, extraction_waiting_name);
    ASSERT_NE(other_kind, nullptr);
    extract_here(attached_data_for(two_files()), target);
    EXPECT_FALSE(extraction_lock.given_up);
    expect_two_files(target);
    CloseHandle(other_kind);
}

TEST(PayloadExtractionLock, NameHeldByAnotherKindOfObjectLeavesTheRunUnlocked) {
    const std::wstring target = fresh_directory();
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, lock_name_of(target).c_str());
    ASSERT_NE(event, nullptr);
    extract_here(attached_data_for(two_files()), target);
    EXPECT_TRUE(extraction_lock.tried);
    EXPECT_TRUE(extraction_lock.given_up);
    expect_two_files(target);
    CloseHandle(event);
}

DWORD WINAPI take_and_die(void* name) {
    // The thread ends owning the mutex: the system marks it abandoned.
    CreateMutexW(nullptr, TRUE, static_cast<const wchar_t*>(name));
    return 0;
}

TEST(PayloadExtractionLock, LockLeftByADeadHolderIsTakenOver) {
    const std::wstring target = fresh_directory();
    const std::wstring name = lock_name_of(target);
    HANDLE thread = CreateThread(nullptr, 0, take_and_die, const_cast<wchar_t*>(name.c_str()), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    // The dead holder's handle went with its thread only in ownership: this one keeps the
    // abandoned mutex in existence while the extraction meets it.
    HANDLE keep = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    ASSERT_NE(keep, nullptr);
    write_file(target + L"\\first.txt", "the fi");
    extract_here(attached_data_for(two_files()), target);
    EXPECT_FALSE(extraction_lock.given_up);
    expect_two_files(target);
    CloseHandle(keep);
}

// Another launcher's lock, held here while a second process extracts.
class HeldLock : public ::testing::Test {
  protected:
    void SetUp() override {
        target = fresh_directory();
        lock = CreateMutexW(nullptr, TRUE, lock_name_of(target).c_str());
        ASSERT_NE(lock, nullptr);
        waiting = CreateEventW(nullptr, TRUE, FALSE, extraction_waiting_name);
        ASSERT_NE(waiting, nullptr);
    }
    void TearDown() override {
        CloseHandle(waiting);
        CloseHandle(lock);
    }

    // The child asks for the lock through the event just before it waits for it.
    static constexpr DWORD child_asks_limit_ms = 60000;
    std::wstring target;
    HANDLE lock = nullptr;
    HANDLE waiting = nullptr;
};

TEST_F(HeldLock, WriterWaitsAndLeavesAFileThatTheHolderFinished) {
    ChildExtraction child = start_extraction_in_child(attached_data_for(two_files()), target);
    ASSERT_EQ(WaitForSingleObject(waiting, child_asks_limit_ms), WAIT_OBJECT_0);
    Sleep(100);
    EXPECT_TRUE(still_running(child));
    EXPECT_EQ(directory_names(target), std::vector<std::wstring>{})
        << "nothing written while another holds it";

    // The holder finishes the first file, as another launcher would, and gives the lock back:
    // the waiting launcher tests it again and leaves it as it is.
    write_file(target + L"\\first.txt", "the first file");
    set_last_write_time(target + L"\\first.txt", old_file_time);
    ReleaseMutex(lock);
    ChildRun run = finish_extraction_in_child(child);
    EXPECT_EQ(run.exit_code, 0u) << run.standard_output << run.standard_error;
    EXPECT_EQ(last_write_time(target + L"\\first.txt"), old_file_time);
    expect_two_files(target);
}

// What another launcher's reuse test holds for the length of one checksum pass: the file
// open for reading with full sharing, and a view of it mapped.
struct ReuseTestHold {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE mapping = nullptr;
    const void* view = nullptr;
};

ReuseTestHold hold_for_reuse_test(const std::wstring& path, bool open, bool mapped) {
    ReuseTestHold hold;
    hold.file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(hold.file, INVALID_HANDLE_VALUE);
    if (mapped) {
        hold.mapping = CreateFileMappingW(hold.file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        hold.view = MapViewOfFile(hold.mapping, FILE_MAP_READ, 0, 0, 0);
        EXPECT_NE(hold.view, nullptr);
    }
    if (!open) {
        // Only the view is left, as at the end of a pass.
        CloseHandle(hold.mapping);
        CloseHandle(hold.file);
        hold.mapping = nullptr;
        hold.file = INVALID_HANDLE_VALUE;
    }
    return hold;
}

void end_hold(ReuseTestHold& hold) {
    if (hold.view != nullptr) {
        UnmapViewOfFile(hold.view);
    }
    if (hold.mapping != nullptr) {
        CloseHandle(hold.mapping);
    }
    if (hold.file != INVALID_HANDLE_VALUE) {
        CloseHandle(hold.file);
    }
}

TEST(PayloadExtractionLockChild, WriterOutwaitsAReuseTestThatHoldsTheFile) {
    // The writer shares no reading and cannot truncate a mapped file: its open fails with a
    // sharing violation or the user-mapped error until the hold ends.
    struct Case {
        const char* what;
        bool open;
        bool mapped;
    };
    for (const Case& c : {Case{"open", true, false}, Case{"open and mapped", true, true},
                          Case{"only a view left", false, true}}) {
        const std::wstring target = fresh_directory();
        write_file(target + L"\\first.txt", "damaged");
        ReuseTestHold hold = hold_for_reuse_test(target + L"\\first.txt", c.open, c.mapped);
        ChildExtraction child = start_extraction_in_child(attached_data_for(two_files()), target);
        Sleep(500);
        end_hold(hold);
        ChildRun run = finish_extraction_in_child(child);
        EXPECT_EQ(run.exit_code, 0u) << c.what << "\n" << run.standard_output << run.standard_error;
        EXPECT_EQ(run.standard_error, "") << c.what;
        expect_two_files(target);
    }
}

} // namespace
