// Extraction into real directories of the Wine prefix: byte-exact files, reuse by checksum,
// directory creation through the cache, and every way an entry can stop the run.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "paths/path_capacity.hpp"
#include "paths/template_expansion.hpp"
#include "payload/directory_cache.hpp"
#include "payload/extract.hpp"
#include "payload_test_support.hpp"
#include "tests/payload/crc_forcing.hpp"

namespace {

struct FileEntry {
    std::wstring name;
    std::string contents;
};

std::vector<PayloadSource> sources_of(const std::vector<FileEntry>& files) {
    std::vector<PayloadSource> sources;
    for (const FileEntry& file : files) {
        sources.push_back({to_u16(file.name), {}, file.contents});
    }
    return sources;
}

Bytes block_of(const std::vector<FileEntry>& files) {
    return attached_data_for(sources_of(files));
}

void expect_files(const std::wstring& target, const std::vector<FileEntry>& files) {
    for (const FileEntry& file : files) {
        std::string on_disk = read_file(target + L"\\" + file.name);
        EXPECT_EQ(on_disk.size(), file.contents.size()) << to_ascii(file.name);
        EXPECT_TRUE(on_disk == file.contents) << to_ascii(file.name);
    }
}

int cache_index(const std::wstring& path) {
    for (int index = 0; index < created_directory_cache.count; ++index) {
        if (path == created_directory_cache.entries[index]) {
            return index;
        }
    }
    return -1;
}

const std::wstring cjk_directory = L"\u6570\u636e";
const std::wstring surrogate_pair_name = L"\xD83D\xDE00 face.txt";

std::vector<FileEntry> sample_tree() {
    return {
        {L"app.exe", pattern(50000, 1)},
        {L"one.bin", "x"},
        {L"sizes\\32767.bin", pattern(32767, 2)},
        {L"sizes\\32768.bin", pattern(32768, 3)},
        {L"sizes\\32769.bin", pattern(32769, 4)},
        {L"deep\\a\\b\\c\\several.bin", pattern((5 << 20) + 17, 5)},
        {cjk_directory + L"\\" + surrogate_pair_name, "smile"},
        {cjk_directory + L"\\\u6587\u4ef6.txt", "file"},
    };
}

TEST(PayloadExtract, FirstRunWritesEveryFileByteExact) {
    const std::wstring target = fresh_directory();
    std::vector<FileEntry> files = sample_tree();
    files.push_back({L"empty.txt", ""});
    extract_here(block_of(files), target);

    expect_files(target, files);
    EXPECT_TRUE(file_exists(target + L"\\empty.txt"));
    EXPECT_EQ(std::wstring(child_executable_path), target + L"\\app.exe");

    // Names land with exactly their units, the surrogate pair included.
    EXPECT_EQ(directory_names(target + L"\\" + cjk_directory),
              (std::vector<std::wstring>{L"\u6587\u4ef6.txt", surrogate_pair_name}));

    // The missing levels of a deep file are made from the top down, each recorded once.
    int a = cache_index(target + L"\\deep\\a");
    int b = cache_index(target + L"\\deep\\a\\b");
    int c = cache_index(target + L"\\deep\\a\\b\\c");
    ASSERT_GE(cache_index(target + L"\\deep"), 1);
    EXPECT_EQ(a, cache_index(target + L"\\deep") + 1);
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, b + 1);
}

TEST(PayloadExtract, SecondRunOverAnIntactTreeWritesNothing) {
    const std::wstring target = fresh_directory();
    const std::vector<FileEntry> files = sample_tree();
    const Bytes block = block_of(files);
    extract_here(block, target);

    const std::vector<std::wstring> directories = {target, target + L"\\sizes", target + L"\\deep",
                                                   target + L"\\deep\\a\\b\\c",
                                                   target + L"\\" + cjk_directory};
    for (const FileEntry& file : files) {
        set_last_write_time(target + L"\\" + file.name, old_file_time);
    }
    for (const std::wstring& directory : directories) {
        set_last_write_time(directory, old_file_time);
    }

    extract_here(block, target);
    for (const FileEntry& file : files) {
        EXPECT_EQ(last_write_time(target + L"\\" + file.name), old_file_time) << to_ascii(file.name);
    }
    for (const std::wstring& directory : directories) {
        EXPECT_EQ(last_write_time(directory), old_file_time) << to_ascii(directory);
    }
    EXPECT_EQ(created_directory_cache.count, 0) << "no directory was asked for";
    // The first entry is still the child even though its file was left alone.
    EXPECT_EQ(std::wstring(child_executable_path), target + L"\\app.exe");
    expect_files(target, files);
}

TEST(PayloadExtract, OnlyTheChecksumDecidesReuse) {
    const std::wstring target = fresh_directory();
    const std::string changed = "the entry's own text";
    const std::string collided = "its twin";
    // A body whose CRC-32 is 0 is stored as 1, and its file on disk is taken as 1 too.
    const std::string zero_crc = "zero" + crc_forcing_suffix("zero", 0);
    const std::vector<FileEntry> files = {
        {L"changed.txt", changed}, {L"collided.txt", collided}, {L"zero.bin", zero_crc}};
    const Bytes block = block_of(files);
    extract_here(block, target);
    EXPECT_TRUE(read_file(target + L"\\zero.bin") == zero_crc);
    set_last_write_time(target + L"\\zero.bin", old_file_time);

    // Same length, other content: rewritten.
    write_file(target + L"\\changed.txt", std::string(changed.size(), '#'));
    // Other length, same CRC-32: left alone.
    const std::string prefix = "a longer text of another length";
    const std::string twin = prefix + crc_forcing_suffix(prefix, crc_of(collided));
    ASSERT_EQ(crc_of(twin), crc_of(collided));
    write_file(target + L"\\collided.txt", twin);
    set_last_write_time(target + L"\\collided.txt", old_file_time);

    extract_here(block, target);
    EXPECT_EQ(read_file(target + L"\\changed.txt"), changed);
    EXPECT_TRUE(read_file(target + L"\\collided.txt") == twin);
    EXPECT_EQ(last_write_time(target + L"\\collided.txt"), old_file_time);
    EXPECT_EQ(last_write_time(target + L"\\zero.bin"), old_file_time);
}

TEST(PayloadExtract, EmptyEntriesStayAndCutFilesAreWrittenAnew) {
    const std::wstring target = fresh_directory();
    // An empty file stays as it is; a file cut short by an earlier failed run is rewritten,
    // and so is a non-empty file standing where an empty entry goes.
    const std::vector<FileEntry> files = {
        {L"empty.txt", ""}, {L"cut.bin", pattern(70000, 7)}, {L"was-filled.txt", ""}};
    const Bytes block = block_of(files);
    extract_here(block, target);
    write_file(target + L"\\cut.bin", pattern(70000, 7).substr(0, 1000));
    write_file(target + L"\\was-filled.txt", "left over");
    set_last_write_time(target + L"\\empty.txt", old_file_time);
    set_last_write_time(target + L"\\cut.bin", old_file_time);

    // A running application may hold the empty file open without sharing.
    HANDLE held = CreateFileW((target + L"\\empty.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    extract_here(block, target);
    CloseHandle(held);
    EXPECT_EQ(last_write_time(target + L"\\empty.txt"), old_file_time);
    EXPECT_NE(last_write_time(target + L"\\cut.bin"), old_file_time);
    expect_files(target, files);
}

TEST(PayloadExtract, DirectoriesBeyondTheCacheAreStillCreated) {
    const std::wstring target = fresh_directory();
    std::vector<FileEntry> files;
    for (int index = 0; index < created_directory_cache_capacity + 10; ++index) {
        files.push_back({L"d" + std::to_wstring(index) + L"\\f", std::to_string(index)});
    }
    extract_here(block_of(files), target);
    EXPECT_EQ(created_directory_cache.count, created_directory_cache_capacity);
    expect_files(target, files);
}

TEST(PayloadExtract, DirectoryCacheSeedsHomeAndTakesDriveNamesAsGiven) {
    created_directory_cache.count = 0;
    wchar_t home[path_capacity];
    ASSERT_TRUE(expand_path_template(home, L"{HOME}", path_capacity));

    // A drive name counts as existing without being recorded, whether or not the drive exists.
    EXPECT_TRUE(ensure_directory(L"C:"));
    EXPECT_TRUE(ensure_directory(L"Q:"));
    ASSERT_EQ(created_directory_cache.count, 1);
    EXPECT_STREQ(created_directory_cache.entries[0], home);

    const std::wstring target = fresh_directory();
    // Compared exactly: another spelling of a known directory asks the system again.
    EXPECT_TRUE(ensure_directory(target.c_str()));
    EXPECT_EQ(created_directory_cache.count, 2);
    EXPECT_TRUE(ensure_directory(target.c_str()));
    EXPECT_EQ(created_directory_cache.count, 2);
    std::wstring upper = target;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t unit) {
        return unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - 32) : unit;
    });
    ASSERT_NE(upper, target);
    EXPECT_TRUE(ensure_directory(upper.c_str()));
    EXPECT_EQ(created_directory_cache.count, 3);

    // Only a directory this run created counts as made now, until the lock is given up.
    EXPECT_FALSE(directory_made_now(target.c_str()));
    EXPECT_TRUE(ensure_directory((target + L"\\new").c_str()));
    EXPECT_TRUE(directory_made_now((target + L"\\new").c_str()));
    EXPECT_FALSE(directory_made_now(home));
    forget_directories_made_now();
    EXPECT_FALSE(directory_made_now((target + L"\\new").c_str()));

    // A regular file counts as an existing directory.
    write_file(target + L"\\plain", "");
    EXPECT_TRUE(ensure_directory((target + L"\\plain").c_str()));
    // A path whose only backslash is its first unit has no parent to make.
    const int before = created_directory_cache.count;
    EXPECT_TRUE(ensure_parent_directories(L"\\name"));
    EXPECT_TRUE(ensure_parent_directories(L"name"));
    EXPECT_EQ(created_directory_cache.count, before);
    // A level that cannot be made: the walk reports it.
    EXPECT_FALSE(ensure_parent_directories((target + L"\\plain\\below\\file").c_str()));
}

// Runs the walk on a thread of its own and measures how deep into its stack it reached:
// the stack below the thread's frame is painted first and the untouched paint read back.
// Wine commits a thread's whole stack at creation, so the painted pages are there; where
// they are not committed, nothing is measured.
constexpr size_t painted_stack = 8u << 20;
constexpr unsigned char stack_paint = 0xA5;

struct DeepWalk {
    const wchar_t* path;
    bool measured;
    size_t stack_used;
};

__attribute__((noinline)) void paint_stack_below(uintptr_t top) {
    // Leave this function's own frame alone.
    memset(reinterpret_cast<void*>(top - painted_stack), stack_paint, painted_stack - 4096);
}

DWORD WINAPI walk_thread(void* argument) {
    auto* walk = static_cast<DeepWalk*>(argument);
    // Integer addresses: the compiler must not take these reads for overruns of a local.
    const uintptr_t top = reinterpret_cast<uintptr_t>(&walk) - 4096;
    MEMORY_BASIC_INFORMATION region{};
    walk->measured =
        VirtualQuery(reinterpret_cast<void*>(top - painted_stack), &region, sizeof region) != 0 &&
        region.State == MEM_COMMIT &&
        reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize >= top;
    if (walk->measured) {
        paint_stack_below(top);
    }
    ensure_parent_directories(walk->path);
    if (walk->measured) {
        uintptr_t reached = top - painted_stack;
        while (reached < top && *reinterpret_cast<volatile unsigned char*>(reached) == stack_paint) {
            ++reached;
        }
        walk->stack_used = top - reached;
    }
    return 0;
}

TEST(PayloadExtract, DeepWalkStaysWithinTheStack) {
    // 400 missing levels. A walk that copied the 4096-unit path at every level would need
    // over 3 MiB of stack here; a path can hold 2,000 levels, which would overrun the
    // launcher image's 9.4 MiB stack. Every level is made.
    // A name of its own per run: a deep tree left by an earlier run would make the walk short.
    const std::wstring target = fresh_directory() + L"\\" + std::to_wstring(GetCurrentProcessId());
    std::wstring path = target;
    for (int level = 0; level < 400; ++level) {
        path += L"\\a";
    }
    path += L"\\f";
    DeepWalk walk{path.c_str(), false, 0};
    HANDLE thread =
        CreateThread(nullptr, 16 << 20, walk_thread, &walk, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    if (walk.measured) {
        EXPECT_LT(walk.stack_used, 1u << 20);
    }
    path.resize(path.size() - 2);
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_GE(created_directory_cache.count, 400);
    // Removed level by level: the tree is deeper than the usual path limit.
    while (path.size() > target.size() && RemoveDirectoryW(path.c_str())) {
        path.resize(path.size() - 2);
    }
    RemoveDirectoryW(target.c_str());
}

struct ChildCase {
    const char* what;
    Bytes block;
    std::wstring target;
    DWORD status;
    std::string standard_output;
    std::string standard_error;
};

std::string open_message(const std::wstring& path) {
    return "Error, failed to open '" + to_ascii(path) + "' for writing.\r\n";
}

// Components of 100 units and backslashes, exactly length units long.
std::wstring long_name(std::size_t length) {
    std::wstring name;
    while (name.size() < length) {
        name.push_back(name.size() % 101 == 100 ? L'\\' : L'n');
    }
    if (name.back() == L'\\') {
        name.back() = L'n';
    }
    return name;
}

TEST(PayloadExtractChild, FailuresStopTheRunWithTheirMessageAndStatus) {
    const std::wstring target = fresh_directory();
    std::vector<ChildCase> cases;

    write_file(target + L"\\blocker", "a file, not a directory");
    cases.push_back({"a file where a directory is needed", block_of({{L"blocker\\inner.txt", "x"}}), target,
                     reported_status, "", open_message(target + L"\\blocker\\inner.txt")});

    // Held open by this process without write sharing while the child unpacks.
    write_file(target + L"\\held.txt", "old text");
    HANDLE held = CreateFileW((target + L"\\held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    cases.push_back({"a file held open by another process", block_of({{L"held.txt", "new text"}}), target,
                     reported_status, "", open_message(target + L"\\held.txt")});

    // The entry path holds at most 4095 units: one more is the limit stop, before any file access.
    const std::wstring long_target = target + L"\\" + long_name(4095 - target.size() - 1 - 1000 - 1);
    ASSERT_EQ(long_target.size() + 1 + 1000, 4095u);
    cases.push_back({"entry path of exactly 4095 units", block_of({{long_name(1000), "x"}}), long_target,
                     reported_status, "", open_message(long_target + L"\\" + long_name(1000))});
    cases.push_back({"entry path of 4096 units", block_of({{long_name(1001), "x"}}), long_target,
                     limit_stop_status, "", ""});

    // The entry name holds at most 1023 units; a longer one is undecodable data.
    cases.push_back(
        {"entry name of 1023 units", block_of({{L"first", "1"}, {long_name(1023), "x"}}), target, 0, "", ""});
    cases.push_back({"entry name of 1024 units", block_of({{L"first", "1"}, {long_name(1024), "x"}}), target,
                     reported_status, "Error, couldn't decode attached data.\r\n", ""});

    for (const ChildCase& c : cases) {
        ChildRun run = extract_in_child(c.block, c.target);
        EXPECT_EQ(run.exit_code, c.status) << c.what;
        EXPECT_EQ(run.standard_output, c.standard_output) << c.what;
        EXPECT_EQ(run.standard_error, c.standard_error) << c.what;
    }
    CloseHandle(held);
    EXPECT_EQ(read_file(target + L"\\held.txt"), "old text");
    EXPECT_TRUE(file_exists(target + L"\\" + long_name(1023)));
}

// Names from attached data that someone else made: each would lead out of the target
// directory (or to a stream, or to another spelling of a name) when joined as it comes. The
// run stops with the decode message before it opens anything for the entry, whether it is
// the first one (no child path yet) or a later one.
TEST(PayloadExtractChild, NamesThatLeaveTheTreeStopTheRunBeforeAnyOpen) {
    const std::wstring base = fresh_directory();
    const std::wstring target = base + L"\\inner\\tree";
    const std::wstring names[] = {
        L"..\\..\\x.txt", L"C:x", L"\\x",   L"a:b",          L"a\\\\b",       L"a\\",  L"a\\..\\..\\..\\x",
        L"a\\.\\b",       L".",   L"..\\x", L"a/../../../x", L"\\\\?\\Z:\\x", L"x.. ", L"a\\.. \\b",
        L"x.txt.",
    };
    for (const std::wstring& name : names) {
        SCOPED_TRACE(to_ascii(name));
        for (bool first : {true, false}) {
            std::filesystem::remove_all(base + L"\\inner");
            std::filesystem::create_directories(target);
            std::vector<FileEntry> files = {{name, "escaped"}};
            if (!first) {
                files.insert(files.begin(), {L"app.exe", "the child"});
            }
            ChildRun run = extract_in_child(block_of(files), target);
            EXPECT_EQ(run.exit_code, reported_status) << (first ? "first entry" : "second entry");
            EXPECT_EQ(run.standard_output, "Error, couldn't decode attached data.\r\n");
            EXPECT_EQ(run.standard_error, "");
            EXPECT_EQ(directory_names(base), std::vector<std::wstring>{L"inner"});
            EXPECT_EQ(directory_names(base + L"\\inner"), std::vector<std::wstring>{L"tree"});
            // The unpack lock, made for the entry written before, is the launcher's own file.
            std::vector<std::wstring> written = directory_names(target);
            std::erase(written, L".talvik-lock");
            EXPECT_EQ(written, first ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"app.exe"});
        }
    }
    EXPECT_FALSE(file_exists(L"C:x"));
    EXPECT_FALSE(file_exists(L"\\x"));
    EXPECT_FALSE(file_exists(L"Z:\\x"));
}

TEST(PayloadExtractChild, FailedWriteGivesTheUnpackMessage) {
    // Wine's drive Z: is the Linux root; "full" there leads to /dev/full.
    std::wstring full_disk = L"Z:" PAYLOAD_TEST_FULL_DISK_DIR;
    std::replace(full_disk.begin(), full_disk.end(), L'/', L'\\');
    ChildRun run = extract_in_child(block_of({{L"full", "bytes for a full disk"}}), full_disk);
    EXPECT_EQ(run.exit_code, reported_status);
    EXPECT_EQ(run.standard_output, "");
    EXPECT_EQ(run.standard_error.rfind("Error, couldn't unpack file to target path. ([Error 112] ", 0), 0u)
        << run.standard_error;
}

} // namespace
