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
    }
    void TearDown() override { CloseHandle(lock); }

    // Long enough for the child to start and reach the lock.
    static constexpr DWORD child_reaches_lock_ms = 1500;
    std::wstring target;
    HANDLE lock = nullptr;
};

TEST_F(HeldLock, WriterWaitsAndLeavesAFileThatTheHolderFinished) {
    ChildExtraction child = start_extraction_in_child(attached_data_for(two_files()), target);
    Sleep(child_reaches_lock_ms);
    EXPECT_TRUE(still_running(child));
    EXPECT_EQ(directory_names(target), std::vector<std::wstring>{}) << "nothing written while another holds it";

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

TEST(PayloadExtractionLockChild, WriterOutwaitsAReuseTestThatHoldsTheFile) {
    const std::wstring target = fresh_directory();
    // A damaged file open for reading with full sharing, as another launcher's reuse test
    // holds it: the writer, which shares no reading, cannot open it until it is closed.
    write_file(target + L"\\first.txt", "damaged");
    HANDLE reader = CreateFileW((target + L"\\first.txt").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ChildExtraction child = start_extraction_in_child(attached_data_for(two_files()), target);
    Sleep(500);
    CloseHandle(reader);
    ChildRun run = finish_extraction_in_child(child);
    EXPECT_EQ(run.exit_code, 0u) << run.standard_output << run.standard_error;
    EXPECT_EQ(run.standard_error, "");
    expect_two_files(target);
}

} // namespace
