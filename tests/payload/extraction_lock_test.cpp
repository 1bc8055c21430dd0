// The lock that makes one launcher at a time the writer of a target directory: its file in
// the directory, the start that needs none, the followers that wait on the holder's
// progress, and the ways the lock can be held, silent or refused (a holder that dies is left
// to the end-to-end tests). The other launchers here are this test program, holding ranges of
// the lock file as its layout says.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/extraction_lock.hpp"
#include "payload/lock_file_layout.hpp"
#include "payload/lock_patience.hpp"
#include "payload_test_support.hpp"
#include "tests/support/lock_patience_seam.hpp"

namespace {

constexpr char lock_message_start[] = "Error, couldn't lock target directory ([Error ";

std::wstring lock_file_of(const std::wstring& target) {
    const std::string name = extraction_lock_file_name;
    return target + L"\\" + std::wstring(name.begin(), name.end());
}

std::vector<PayloadSource> two_files() {
    return {{u"first.txt", {}, "the first file"}, {u"second\\deeper.txt", {}, pattern(70000, 9)}};
}

void expect_two_files(const std::wstring& target) {
    EXPECT_EQ(read_file(target + L"\\first.txt"), "the first file");
    EXPECT_TRUE(read_file(target + L"\\second\\deeper.txt") == pattern(70000, 9));
}

// Another launcher, or whoever else opens the lock file: ranges and the progress record.
class OtherHolder {
  public:
    explicit OtherHolder(const std::wstring& target) {
        file = CreateFileW(lock_file_of(target).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
    }
    ~OtherHolder() { CloseHandle(file); }

    bool lock(uint64_t offset, bool exclusive) {
        OVERLAPPED at = at_offset(offset);
        DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        return LockFileEx(file, flags, 0, lock_range_length, 0, &at) != 0;
    }
    void unlock(uint64_t offset) {
        OVERLAPPED at = at_offset(offset);
        EXPECT_TRUE(UnlockFileEx(file, 0, lock_range_length, 0, &at));
    }
    // A file finished (counted) or a sign of work inside one.
    void show(bool file_finished) {
        files += file_finished ? 1 : 0;
        ++heartbeat;
        struct {
            uint32_t process_id;
            uint32_t files;
            uint64_t heartbeat;
        } record{GetCurrentProcessId(), files, heartbeat};
        static_assert(sizeof record == lock_record_size);
        OVERLAPPED at = at_offset(lock_record_offset);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file, &record, lock_record_size, &written, &at));
    }
    // Whether some launcher asks for the writer range now.
    bool asked() {
        if (!lock(lock_request_offset, true)) {
            return true;
        }
        unlock(lock_request_offset);
        return false;
    }

  private:
    static OVERLAPPED at_offset(uint64_t offset) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        return at;
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    uint32_t files = 0;
    uint64_t heartbeat = 0;
};

// Polls condition every few milliseconds for up to limit_ms.
template <typename Condition> bool within(DWORD limit_ms, Condition condition) {
    for (ULONGLONG end = GetTickCount64() + limit_ms; GetTickCount64() < end; Sleep(5)) {
        if (condition()) {
            return true;
        }
    }
    return condition();
}

// Far longer than any step of these tests: only a broken wait would meet it.
constexpr DWORD generous_patience_ms = 20000;

class PayloadExtractionLock : public ::testing::Test {
  protected:
    void SetUp() override { lock_patience_in_tests_ms = generous_patience_ms; }
    void TearDown() override { lock_patience_in_tests_ms = extraction_lock_patience_ms; }
};

TEST_F(PayloadExtractionLock, OnlyAStartThatWritesMakesTheLockFileAndTakesTheLock) {
    const std::wstring target = fresh_directory();
    const Bytes block = attached_data_for(two_files());
    {
        // A launcher whose child runs from the tree holds the in-use range: no writer minds.
        OtherHolder running(target);
        ASSERT_TRUE(running.lock(lock_in_use_offset, false));
        extract_here(block, target);
    }
    expect_two_files(target);
    EXPECT_EQ(extraction_lock.holds, 1u) << "a launcher alone takes the lock once";
    EXPECT_EQ(extraction_lock.file, nullptr) << "closed when the extraction ends";
    EXPECT_TRUE(OtherHolder(target).lock(lock_writer_offset, true)) << "and given back";

    ASSERT_TRUE(DeleteFileW(lock_file_of(target).c_str()));
    extract_here(block, target);
    EXPECT_FALSE(extraction_lock.tried);
    EXPECT_EQ(extraction_lock.holds, 0u);
    EXPECT_FALSE(file_exists(lock_file_of(target)));
}

TEST_F(PayloadExtractionLock, FollowerTestsEachFileTheHolderFinishesAndAsksOnlyWhenThatDoesNotHelp) {
    const std::wstring target = fresh_directory();
    OtherHolder holder(target);
    ASSERT_TRUE(holder.lock(lock_writer_offset, true));
    ChildExtraction child = start_extraction_in_child(attached_data_for(two_files()), target);
    Sleep(1000);
    EXPECT_TRUE(still_running(child));
    EXPECT_EQ(directory_names(target), std::vector<std::wstring>{L".talvik-lock"})
        << "nothing written while another holds the lock";

    // The holder finishes the first file: the follower tests it and leaves it as it is.
    write_file(target + L"\\first.txt", "the first file");
    set_last_write_time(target + L"\\first.txt", old_file_time);
    holder.show(true);
    // Files finished that are not the one it waits for: after two, it asks.
    Sleep(300);
    EXPECT_FALSE(holder.asked());
    holder.show(true);
    Sleep(300);
    EXPECT_FALSE(holder.asked());
    holder.show(true);
    EXPECT_TRUE(within(5000, [&] { return holder.asked(); }));
    EXPECT_TRUE(still_running(child));

    holder.unlock(lock_writer_offset);
    ChildRun run = finish_extraction_in_child(child);
    EXPECT_EQ(run.exit_code, 0u) << run.standard_output << run.standard_error;
    EXPECT_EQ(last_write_time(target + L"\\first.txt"), old_file_time);
    expect_two_files(target);
}

TEST_F(PayloadExtractionLock, HolderGivesWayAtAFileEndWhenAsked) {
    const std::wstring target = fresh_directory();
    std::vector<PayloadSource> files;
    for (int index = 0; index < 200; ++index) {
        files.push_back({to_u16(L"f" + std::to_wstring(index) + L".bin"), {}, pattern(20000, index + 1)});
    }
    OtherHolder asker(target);
    ASSERT_TRUE(asker.lock(lock_request_offset, false));
    ChildExtraction child = start_extraction_in_child(attached_data_for(files), target);
    ASSERT_TRUE(within(60000, [&] { return asker.lock(lock_writer_offset, true) || !still_running(child); }));
    ASSERT_TRUE(still_running(child)) << "the holder gave way before its last file";
    asker.unlock(lock_request_offset);
    // Holding the lock now, nothing is written beside it.
    std::vector<std::wstring> written = directory_names(target);
    EXPECT_LT(written.size(), files.size() + 1);
    Sleep(500);
    EXPECT_EQ(directory_names(target), written);
    asker.unlock(lock_writer_offset);
    ChildRun run = finish_extraction_in_child(child);
    EXPECT_EQ(run.exit_code, 0u) << run.standard_output << run.standard_error;
    for (const PayloadSource& file : files) {
        const std::wstring name(file.name.begin(), file.name.end());
        EXPECT_TRUE(read_file(target + L"\\" + name) == file.contents) << to_ascii(name);
    }
}

TEST_F(PayloadExtractionLock, HolderThatShowsNoProgressIsGivenUpAfterThePatienceAndNothingIsWritten) {
    const std::wstring target = fresh_directory();
    write_file(target + L"\\first.txt", "damaged");
    set_last_write_time(target + L"\\first.txt", old_file_time);
    OtherHolder holder(target);
    ASSERT_TRUE(holder.lock(lock_writer_offset, true));

    // Progress inside a long file counts: for three times the patience, then silence.
    lock_patience_in_tests_ms = 1000;
    ULONGLONG started = GetTickCount64();
    ChildExtraction child = start_extraction_in_child(attached_data_for(two_files()), target);
    for (int beat = 0; beat < 15; ++beat) {
        Sleep(200);
        holder.show(false);
    }
    EXPECT_TRUE(still_running(child)) << "a holder that shows progress is waited for";
    ChildRun run = finish_extraction_in_child(child);
    EXPECT_GE(GetTickCount64() - started, 3000u + lock_patience_in_tests_ms);

    EXPECT_EQ(run.exit_code, reported_status);
    EXPECT_EQ(run.standard_output, "");
    // The code of the last attempt: the range is locked.
    EXPECT_EQ(run.standard_error.rfind(lock_message_start + std::string("33] "), 0), 0u)
        << run.standard_error;
    EXPECT_TRUE(run.standard_error.ends_with(")\r\n")) << run.standard_error;
    EXPECT_EQ(read_file(target + L"\\first.txt"), "damaged");
    EXPECT_EQ(last_write_time(target + L"\\first.txt"), old_file_time);
    EXPECT_EQ(directory_names(target), (std::vector<std::wstring>{L".talvik-lock", L"first.txt"}));
}

TEST_F(PayloadExtractionLock, LockFileThatCannotBeMadeOrOpened) {
    // The directory cannot be made (a file stands in its way): no lock, and the first write
    // fails with its own message, as without a lock.
    const std::wstring base = fresh_directory();
    write_file(base + L"\\file", "a file, not a directory");
    const std::wstring under_a_file = base + L"\\file\\tree";
    ChildRun run = extract_in_child(attached_data_for(two_files()), under_a_file);
    EXPECT_EQ(run.exit_code, reported_status);
    EXPECT_EQ(run.standard_error,
              "Error, failed to open '" + to_ascii(under_a_file) + "\\first.txt' for writing.\r\n");

    // The directory can be written, the lock file cannot be opened: nothing is written
    // without the lock.
    const std::wstring target = fresh_directory();
    ASSERT_TRUE(CreateDirectoryW(lock_file_of(target).c_str(), nullptr));
    run = extract_in_child(attached_data_for(two_files()), target);
    EXPECT_EQ(run.exit_code, reported_status);
    EXPECT_EQ(run.standard_output, "");
    EXPECT_EQ(run.standard_error.rfind(lock_message_start + std::string("5] "), 0), 0u) << run.standard_error;
    EXPECT_EQ(directory_names(target), std::vector<std::wstring>{L".talvik-lock"}) << "nor a probe left";

    // Held open without sharing for a moment: waited out.
    ASSERT_TRUE(RemoveDirectoryW(lock_file_of(target).c_str()));
    HANDLE unshared = CreateFileW(lock_file_of(target).c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(unshared, INVALID_HANDLE_VALUE);
    ChildExtraction child = start_extraction_in_child(attached_data_for(two_files()), target);
    Sleep(500);
    CloseHandle(unshared);
    run = finish_extraction_in_child(child);
    EXPECT_EQ(run.exit_code, 0u) << run.standard_error;
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

// The in-use mark that a launcher holds from before it looks at its tree until its child has
// ended, as a remover of old trees meets it.
class PayloadTreeInUse : public PayloadExtractionLock {
  protected:
    void SetUp() override {
        PayloadExtractionLock::SetUp();
        extraction_lock = ExtractionLock{};
    }
    void TearDown() override {
        end_tree_use();
        PayloadExtractionLock::TearDown();
    }
};

TEST_F(PayloadTreeInUse, MarkKeepsRemoversOutUntilTheUseEnds) {
    const std::wstring target = fresh_directory() + L"\\made\\by\\the\\mark";
    mark_tree_in_use(target.c_str());
    ASSERT_TRUE(extraction_lock.in_use);
    EXPECT_TRUE(file_exists(lock_file_of(target))) << "the mark makes the directory and the lock file";
    EXPECT_EQ(claim_unused_tree(lock_file_of(target).c_str()), nullptr);
    {
        OtherHolder other(target);
        EXPECT_TRUE(other.lock(lock_in_use_offset, false)) << "launchers share the mark";
        other.unlock(lock_in_use_offset);
        EXPECT_TRUE(other.lock(lock_writer_offset, true)) << "and it keeps no writer out";
    }
    end_tree_use();
    EXPECT_EQ(extraction_lock.file, nullptr);
    HANDLE claimed = claim_unused_tree(lock_file_of(target).c_str());
    ASSERT_NE(claimed, nullptr);
    {
        OtherHolder other(target);
        EXPECT_FALSE(other.lock(lock_in_use_offset, false)) << "a claim holds both ranges exclusively";
        EXPECT_FALSE(other.lock(lock_writer_offset, false));
    }
    CloseHandle(claimed);
    EXPECT_EQ(claim_unused_tree((fresh_directory() + L"\\.talvik-lock").c_str()), nullptr)
        << "a claim never makes a lock file";
}

TEST_F(PayloadTreeInUse, CondemnedMarkLeftInPlaceIsTakenBackAfterAWhile) {
    const std::wstring target = fresh_directory();
    HANDLE claimed = nullptr;
    { OtherHolder other(target); }
    claimed = claim_unused_tree(lock_file_of(target).c_str());
    ASSERT_NE(claimed, nullptr);
    ASSERT_TRUE(set_tree_condemned(claimed, 1));
    CloseHandle(claimed);
    // As a remover that died before it could move the tree aside.
    ULONGLONG started = GetTickCount64();
    mark_tree_in_use(target.c_str());
    EXPECT_GE(GetTickCount64() - started, 200u) << "a remover gets its moment to move the tree";
    EXPECT_LT(GetTickCount64() - started, 5000u);
    EXPECT_TRUE(extraction_lock.in_use);
    end_tree_use();
    // The mark is gone: the next launcher marks the tree at once.
    started = GetTickCount64();
    mark_tree_in_use(target.c_str());
    EXPECT_LT(GetTickCount64() - started, 200u);
    EXPECT_TRUE(extraction_lock.in_use);
}
