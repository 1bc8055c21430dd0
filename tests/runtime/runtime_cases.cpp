// The image's own standard functions, exercised in a program linked the way the launcher
// image is: runtime/ supplies the entry point and every C function, no C runtime of mingw's
// is linked. The entry point calls run_launcher, which here runs the cases of the group named
// by argument 1 and writes one line per case to standard output:
//   "ok NAME" or "FAIL NAME: DETAIL", then "end PASSED FAILED";
// it returns the number of failed cases. Compiled without builtins, so every call below is
// a real call into runtime/ rather than something the compiler worked out itself.
#include <windows.h>

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "launcher/run_launcher.hpp"

namespace {

// ---- reporting: fixed buffers, WriteFile, nothing from the functions under test ----

constexpr size_t text_capacity = 256;

struct Text {
    char units[text_capacity];
    size_t length;
};

Text case_name;
Text case_detail;
bool case_failed;
unsigned passed_cases;
unsigned failed_cases;

void append(Text& text, const char* more) {
    while (*more != 0 && text.length < text_capacity) {
        text.units[text.length++] = *more++;
    }
}

void append_number(Text& text, uint64_t value, unsigned base) {
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    if (base == 16) {
        append(text, "0x");
    }
    while (count > 0 && text.length < text_capacity) {
        text.units[text.length++] = digits[--count];
    }
}

void write_out(const char* bytes, size_t count) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, static_cast<DWORD>(count), &written, nullptr);
}

void write_text(const Text& text) {
    write_out(text.units, text.length);
}

void begin_case(const char* name) {
    case_name.length = 0;
    case_detail.length = 0;
    case_failed = false;
    append(case_name, name);
}

// " key=value" after the case name, for cases that run over a table of sizes.
void name_value(const char* key, uint64_t value) {
    append(case_name, " ");
    append(case_name, key);
    append(case_name, "=");
    append_number(case_name, value, 10);
}

// The first failed expectation of a case is the one reported.
bool expect(bool condition, const char* what) {
    if (!condition && !case_failed) {
        case_failed = true;
        append(case_detail, what);
    }
    return condition;
}

// True when this failure is the case's first, so that the caller adds to its detail.
bool first_failure(bool condition, const char* what) {
    bool first = !condition && !case_failed;
    expect(condition, what);
    return first;
}

void expect_value(uint64_t actual, uint64_t expected, const char* what) {
    if (actual != expected && !case_failed) {
        expect(false, what);
        append(case_detail, " is ");
        append_number(case_detail, actual, 16);
        append(case_detail, ", expected ");
        append_number(case_detail, expected, 16);
    }
}

void end_case() {
    if (case_failed) {
        ++failed_cases;
        write_out("FAIL ", 5);
        write_text(case_name);
        write_out(": ", 2);
        write_text(case_detail);
    } else {
        ++passed_cases;
        write_out("ok ", 3);
        write_text(case_name);
    }
    write_out("\n", 1);
}

int sign(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

// ---- byte functions: an arena with a known pattern, and a reference copy of what it must hold ----

constexpr size_t arena_size = 3 * 8192;
// Apart enough that a copy of the largest size (4097) never overlaps the other region.
constexpr size_t source_region = 64;
constexpr size_t destination_region = 8192 + 64;

unsigned char arena[arena_size];
unsigned char expected_arena[arena_size];
unsigned char scratch[arena_size];

const size_t sizes[] = {0, 1, 2, 7, 8, 15, 16, 17, 31, 32, 33, 255, 4095, 4096, 4097};
const size_t offsets[] = {0, 1, 3, 8};

// A pattern that does not repeat at any small period, so a byte from the wrong place shows.
void fill_arena(unsigned seed) {
    for (size_t i = 0; i < arena_size; ++i) {
        unsigned char value = static_cast<unsigned char>(i * 131 + (i >> 8) * 7 + seed);
        arena[i] = value;
        expected_arena[i] = value;
    }
}

void expect_arena_as_expected() {
    for (size_t i = 0; i < arena_size; ++i) {
        if (arena[i] != expected_arena[i]) {
            if (!first_failure(false, "arena byte ")) {
                return;
            }
            append_number(case_detail, i, 10);
            append(case_detail, " is ");
            append_number(case_detail, arena[i], 16);
            append(case_detail, ", expected ");
            append_number(case_detail, expected_arena[i], 16);
            return;
        }
    }
}

// What memmove must do, through a separate buffer so that overlap cannot matter.
void reference_move(size_t to, size_t from, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        scratch[i] = expected_arena[from + i];
    }
    for (size_t i = 0; i < count; ++i) {
        expected_arena[to + i] = scratch[i];
    }
}

void memcpy_cases() {
    unsigned seed = 0;
    for (size_t size : sizes) {
        for (size_t source_offset : offsets) {
            for (size_t destination_offset : offsets) {
                begin_case("memcpy");
                name_value("n", size);
                name_value("from", source_offset);
                name_value("to", destination_offset);
                fill_arena(++seed);
                size_t from = source_region + source_offset;
                size_t to = destination_region + destination_offset;
                reference_move(to, from, size);
                void* result = memcpy(arena + to, arena + from, size);
                expect(result == arena + to, "result is not the destination");
                expect_arena_as_expected();
                end_case();
            }
        }
    }
}

void move_case(const char* name, size_t size, size_t to, size_t from) {
    begin_case(name);
    name_value("n", size);
    name_value("shift", to > from ? to - from : from - to);
    fill_arena(static_cast<unsigned>(size + to + from));
    reference_move(to, from, size);
    void* result = memmove(arena + to, arena + from, size);
    expect(result == arena + to, "result is not the destination");
    expect_arena_as_expected();
    end_case();
}

void memmove_cases() {
    for (size_t size : sizes) {
        // Shifts that overlap by all but one byte, by half, by one byte, and that just touch.
        const size_t shifts[] = {1, size / 2, size - 1, size, size + 1};
        for (size_t i = 0; i < sizeof shifts / sizeof shifts[0]; ++i) {
            size_t shift = shifts[i];
            bool repeated = false;
            for (size_t j = 0; j < i; ++j) {
                repeated = repeated || shifts[j] == shift;
            }
            if (shift == 0 || shift > size + 1 || repeated) {
                continue;
            }
            move_case("memmove forward", size, source_region + shift, source_region);
            move_case("memmove backward", size, source_region, source_region + shift);
        }
        move_case("memmove same place", size, source_region, source_region);
        move_case("memmove apart", size, destination_region, source_region);
    }
}

void memset_cases() {
    // memset stores the value converted to unsigned char.
    const int values[] = {0, 0x5A, 0xFF, -1, 0x1AB};
    for (size_t size : sizes) {
        for (size_t offset : offsets) {
            for (int value : values) {
                begin_case("memset");
                name_value("n", size);
                name_value("at", offset);
                name_value("value", static_cast<unsigned>(value));
                fill_arena(static_cast<unsigned>(size + offset));
                unsigned char* start = arena + destination_region + offset;
                for (size_t i = 0; i < size; ++i) {
                    expected_arena[destination_region + offset + i] = static_cast<unsigned char>(value);
                }
                void* result = memset(start, value, size);
                expect(result == start, "result is not the destination");
                expect_arena_as_expected();
                end_case();
            }
        }
    }
}

struct CompareCase {
    const char* name;
    unsigned char left[4];
    unsigned char right[4];
    size_t count;
    int expected_sign;
};

// Bytes compare as unsigned char: 0x80 is greater than 0x7F.
const CompareCase compare_cases[] = {
    {"memcmp equal", {1, 2, 3, 4}, {1, 2, 3, 4}, 4, 0},
    {"memcmp nothing to compare", {1, 2, 3, 4}, {9, 9, 9, 9}, 0, 0},
    {"memcmp 0x80 above 0x7f", {0x80}, {0x7F}, 1, 1},
    {"memcmp 0x7f below 0x80", {0x7F}, {0x80}, 1, -1},
    {"memcmp 0xff above 0x00", {0xFF}, {0x00}, 1, 1},
    {"memcmp 0x00 below 0xff", {0x00}, {0xFF}, 1, -1},
    {"memcmp first difference decides", {1, 0xFF, 0, 0}, {2, 0x00, 0, 0}, 2, -1},
    {"memcmp last byte decides", {5, 5, 5, 0x81}, {5, 5, 5, 0x01}, 4, 1},
    {"memcmp difference past the count", {1, 2, 3, 4}, {1, 2, 3, 5}, 3, 0},
};

void memcmp_cases() {
    for (const CompareCase& test : compare_cases) {
        begin_case(test.name);
        expect_value(static_cast<uint64_t>(sign(memcmp(test.left, test.right, test.count))),
                     static_cast<uint64_t>(test.expected_sign), "sign of the result");
        end_case();
    }
    // A long run, equal up to one high byte near its end.
    for (size_t size : sizes) {
        if (size == 0) {
            continue;
        }
        begin_case("memcmp long");
        name_value("n", size);
        fill_arena(static_cast<unsigned>(size));
        for (size_t i = 0; i < size; ++i) {
            arena[destination_region + i] = arena[source_region + i];
        }
        const unsigned char* left = arena + source_region;
        unsigned char* right = arena + destination_region;
        expect(memcmp(left, right, size) == 0, "equal runs differ");
        right[size - 1] = static_cast<unsigned char>(left[size - 1] ^ 0x80);
        int expected = left[size - 1] > right[size - 1] ? 1 : -1;
        expect(sign(memcmp(left, right, size)) == expected, "wrong sign for a high last byte");
        expect(size == 1 || memcmp(left, right, size - 1) == 0, "difference outside the count seen");
        end_case();
    }
}

// ---- heap ----

constexpr size_t heap_alignment = 16;
// Beyond any heap: HeapAlloc fails for these instead of raising an exception.
constexpr size_t impossible_size = static_cast<size_t>(-1) - 4096;

void fill_bytes(unsigned char* bytes, size_t count, unsigned seed) {
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 13 + seed);
    }
}

bool holds_pattern(const unsigned char* bytes, size_t count, unsigned seed) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != static_cast<unsigned char>(i * 13 + seed)) {
            return false;
        }
    }
    return true;
}

bool all_zero(const unsigned char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

void malloc_cases() {
    const size_t block_sizes[] = {1, 15, 16, 4096, 1 << 20};
    for (size_t size : block_sizes) {
        begin_case("malloc");
        name_value("n", size);
        auto* block = static_cast<unsigned char*>(malloc(size));
        if (expect(block != nullptr, "no block")) {
            expect(reinterpret_cast<uintptr_t>(block) % heap_alignment == 0, "block not 16-byte aligned");
            fill_bytes(block, size, 3);
            expect(holds_pattern(block, size, 3), "block does not keep what was written");
            free(block);
        }
        end_case();
    }

    begin_case("malloc of nothing can be freed");
    free(malloc(0));
    end_case();

    begin_case("malloc too large gives null");
    expect(malloc(impossible_size) == nullptr, "a block of almost 2^64 bytes");
    end_case();

    begin_case("free of null does nothing");
    free(nullptr);
    end_case();
}

struct CallocCase {
    const char* name;
    size_t count;
    size_t size;
};

// Products that wrap around: a multiplication without the check would ask for a small
// block (2^32 * 2^32 wraps to 0) and hand it out as if it held them all.
const CallocCase calloc_overflows[] = {
    {"calloc overflow 2^32 * 2^32", size_t{1} << 32, size_t{1} << 32},
    {"calloc overflow (2^63 + 1) * 2", (size_t{1} << 63) + 1, 2},
    {"calloc overflow 2 * 2^63", 2, size_t{1} << 63},
    {"calloc overflow max * max", static_cast<size_t>(-1), static_cast<size_t>(-1)},
    {"calloc overflow max * 2", static_cast<size_t>(-1), 2},
    {"calloc overflow (2^61 + 1) * 8", (size_t{1} << 61) + 1, 8},
};

void calloc_cases() {
    begin_case("calloc zeroes a reused block");
    constexpr size_t block_size = 64 * 1024;
    auto* dirty = static_cast<unsigned char*>(malloc(block_size));
    if (expect(dirty != nullptr, "no block to dirty")) {
        fill_bytes(dirty, block_size, 0xA5);
        free(dirty);
    }
    auto* clean = static_cast<unsigned char*>(calloc(block_size / 8, 8));
    if (expect(clean != nullptr, "no block")) {
        expect(all_zero(clean, block_size), "block not zeroed");
        free(clean);
    }
    end_case();

    begin_case("calloc of odd counts");
    auto* units = static_cast<unsigned char*>(calloc(3, 7));
    if (expect(units != nullptr, "no block")) {
        expect(all_zero(units, 21), "block not zeroed");
        free(units);
    }
    end_case();

    for (const CallocCase& test : calloc_overflows) {
        begin_case(test.name);
        void* block = calloc(test.count, test.size);
        expect(block == nullptr, "a block for a product that does not fit in size_t");
        free(block);
        end_case();
    }

    begin_case("calloc product just too large for any heap");
    expect(calloc(impossible_size / 8, 8) == nullptr, "a block of almost 2^64 bytes");
    end_case();

    begin_case("calloc of zero items with a huge size can be freed");
    free(calloc(0, static_cast<size_t>(-1)));
    free(calloc(static_cast<size_t>(-1), 0));
    end_case();
}

void realloc_cases() {
    begin_case("realloc of null allocates");
    auto* fresh = static_cast<unsigned char*>(realloc(nullptr, 100));
    if (expect(fresh != nullptr, "no block")) {
        fill_bytes(fresh, 100, 9);
        expect(holds_pattern(fresh, 100, 9), "block does not keep what was written");
        free(fresh);
    }
    end_case();

    begin_case("realloc keeps the contents while growing and shrinking");
    auto* block = static_cast<unsigned char*>(malloc(16));
    if (expect(block != nullptr, "no block")) {
        fill_bytes(block, 16, 1);
        const size_t steps[] = {64, 4096, 1 << 20, 8};
        size_t kept = 16;
        for (size_t step : steps) {
            auto* moved = static_cast<unsigned char*>(realloc(block, step));
            if (!expect(moved != nullptr, "no block after a step")) {
                break;
            }
            block = moved;
            kept = kept < step ? kept : step;
            expect(holds_pattern(block, kept, 1), "contents lost in a step");
            fill_bytes(block, step, 1);
            kept = step;
        }
        free(block);
    }
    end_case();

    begin_case("realloc that fails keeps the old block");
    auto* kept = static_cast<unsigned char*>(malloc(32));
    if (expect(kept != nullptr, "no block")) {
        fill_bytes(kept, 32, 7);
        expect(realloc(kept, impossible_size) == nullptr, "a block of almost 2^64 bytes");
        expect(holds_pattern(kept, 32, 7), "old block changed");
        free(kept);
    }
    end_case();
}

bool same_units(const wchar_t* left, const wchar_t* right) {
    for (;; ++left, ++right) {
        if (*left != *right) {
            return false;
        }
        if (*left == 0) {
            return true;
        }
    }
}

wchar_t long_wide_text[5001];

void wcsdup_cases() {
    begin_case("_wcsdup of empty text");
    wchar_t* empty = _wcsdup(L"");
    if (expect(empty != nullptr, "no copy")) {
        expect(empty[0] == 0, "copy not empty");
        free(empty);
    }
    end_case();

    begin_case("_wcsdup copies every unit");
    const wchar_t* original = L"C:\\Users\\Ana\\AppData\\Local\\Orrin Deck \u00e9\xd83d\xde00";
    wchar_t* copy = _wcsdup(original);
    if (expect(copy != nullptr, "no copy")) {
        expect(copy != original, "copy is the original");
        expect(same_units(copy, original), "copy differs");
        free(copy);
    }
    end_case();

    begin_case("_wcsdup of 5000 units");
    for (size_t i = 0; i < 5000; ++i) {
        long_wide_text[i] = static_cast<wchar_t>(L'a' + i % 26);
    }
    long_wide_text[5000] = 0;
    wchar_t* long_copy = _wcsdup(long_wide_text);
    if (expect(long_copy != nullptr, "no copy")) {
        expect(same_units(long_copy, long_wide_text), "copy differs");
        free(long_copy);
    }
    end_case();
}

void heap_cases() {
    malloc_cases();
    calloc_cases();
    realloc_cases();
    wcsdup_cases();
}

// ---- text ----

char long_text[4097];

void length_cases() {
    struct {
        const char* name;
        const char* text;
        size_t length;
    } const narrow[] = {
        {"strlen empty", "", 0},
        {"strlen one", "a", 1},
        {"strlen high bytes", "\xff\x80\x7f", 3},
        {"strlen stops at the first NUL", "ab\0cd", 2},
    };
    for (const auto& test : narrow) {
        begin_case(test.name);
        expect_value(strlen(test.text), test.length, "length");
        end_case();
    }
    begin_case("strlen 4096");
    for (size_t i = 0; i < 4096; ++i) {
        long_text[i] = 'x';
    }
    long_text[4096] = 0;
    expect_value(strlen(long_text), 4096, "length");
    end_case();

    struct {
        const char* name;
        const wchar_t* text;
        size_t length;
    } const wide[] = {
        {"wcslen empty", L"", 0},
        {"wcslen one", L"a", 1},
        {"wcslen surrogate pair counts two units", L"\xd83d\xde00", 2},
        {"wcslen high units", L"\xffff\x8000\x0100", 3},
        {"wcslen stops at the first NUL", L"ab\0cd", 2},
    };
    for (const auto& test : wide) {
        begin_case(test.name);
        expect_value(wcslen(test.text), test.length, "length");
        end_case();
    }
    begin_case("wcslen 5000");
    for (size_t i = 0; i < 5000; ++i) {
        long_wide_text[i] = static_cast<wchar_t>(0x100 + i);
    }
    long_wide_text[5000] = 0;
    expect_value(wcslen(long_wide_text), 5000, "length");
    end_case();
}

struct WideCompareCase {
    const char* name;
    const wchar_t* left;
    const wchar_t* right;
    int expected_sign;
};

// ASCII letters fold to lower case, as the C locale does; nothing else folds.
const WideCompareCase wide_compare_cases[] = {
    {"_wcsicmp empty", L"", L"", 0},
    {"_wcsicmp same case", L"cache_dir", L"cache_dir", 0},
    {"_wcsicmp other case", L"Cache_Dir", L"cACHE_dIR", 0},
    {"_wcsicmp whole alphabet", L"ABCDEFGHIJKLMNOPQRSTUVWXYZ", L"abcdefghijklmnopqrstuvwxyz", 0},
    {"_wcsicmp a before B", L"a", L"B", -1},
    {"_wcsicmp B after a", L"B", L"a", 1},
    {"_wcsicmp folds to lower case: _ before A", L"_", L"A", -1},
    {"_wcsicmp folds to lower case: A after _", L"A", L"_", 1},
    {"_wcsicmp @ is not `", L"@", L"`", -1},
    {"_wcsicmp [ is not {", L"[", L"{", -1},
    {"_wcsicmp shorter first", L"abc", L"ABCD", -1},
    {"_wcsicmp longer first", L"ABCD", L"abc", 1},
    {"_wcsicmp non-ASCII letters do not fold", L"\u00c9", L"\u00e9", -1},
    {"_wcsicmp units compare unsigned", L"\xffff", L"a", 1},
    {"_wcsicmp stops at the terminator", L"ab\0x", L"AB\0y", 0},
};

void wcsicmp_cases() {
    for (const WideCompareCase& test : wide_compare_cases) {
        begin_case(test.name);
        expect_value(static_cast<uint64_t>(sign(_wcsicmp(test.left, test.right))),
                     static_cast<uint64_t>(test.expected_sign), "sign of the result");
        end_case();
    }
}

// ---- mbstowcs: each byte becomes the unit of the same value ----

constexpr wchar_t guard_unit = 0xBEEF;
constexpr size_t guarded_units = 8;

struct WidenCase {
    const char* name;
    const char* source;
    size_t capacity;
    size_t expected_result;
    const wchar_t* expected_units; // the units written, terminator included when written
    size_t written;
};

const WidenCase widen_cases[] = {
    {"mbstowcs room for all and the terminator", "abc", 4, 3, L"abc", 4},
    {"mbstowcs more room than needed", "abc", 8, 3, L"abc", 4},
    {"mbstowcs room for all but the terminator", "abc", 3, 3, L"abc", 3},
    {"mbstowcs room for part", "abc", 2, 2, L"ab", 2},
    {"mbstowcs room for one", "abc", 1, 1, L"a", 1},
    {"mbstowcs no room", "abc", 0, 0, L"", 0},
    {"mbstowcs empty text", "", 1, 0, L"", 1},
    {"mbstowcs empty text, no room", "", 0, 0, L"", 0},
    {"mbstowcs one byte as the launcher widens it", "x", 2, 1, L"x", 2},
    {"mbstowcs high bytes are not sign-extended", "\x80\xe9\xff", 4, 3, L"\x0080\x00e9\x00ff", 4},
};

void mbstowcs_cases() {
    for (const WidenCase& test : widen_cases) {
        begin_case(test.name);
        wchar_t units[guarded_units];
        for (wchar_t& unit : units) {
            unit = guard_unit;
        }
        expect_value(mbstowcs(units, test.source, test.capacity), test.expected_result, "result");
        for (size_t i = 0; i < guarded_units; ++i) {
            wchar_t expected = i < test.written ? test.expected_units[i] : guard_unit;
            if (units[i] != expected) {
                bool first = !case_failed;
                expect_value(units[i], expected, "unit");
                if (first) {
                    append(case_detail, " at ");
                    append_number(case_detail, i, 10);
                }
                break;
            }
        }
        end_case();
    }

    begin_case("mbstowcs without a destination counts");
    expect_value(mbstowcs(nullptr, "abcdef", 0), 6, "result");
    expect_value(mbstowcs(nullptr, "", 3), 0, "result for empty text");
    end_case();
}

// ---- iswdigit: only the ASCII digits ----

void iswdigit_cases() {
    begin_case("iswdigit ASCII digits");
    for (wchar_t unit = L'0'; unit <= L'9'; ++unit) {
        if (first_failure(iswdigit(unit) != 0, "a digit is not a digit")) {
            append(case_detail, ": ");
            append_number(case_detail, unit, 16);
        }
    }
    end_case();

    struct {
        const char* name;
        wint_t unit;
    } const not_digits[] = {
        {"iswdigit NUL", 0},
        {"iswdigit /", L'/'},
        {"iswdigit :", L':'},
        {"iswdigit letter O", L'O'},
        {"iswdigit U+0130 (0x30 in its low byte)", 0x0130},
        {"iswdigit U+0660 Arabic-Indic zero", 0x0660},
        {"iswdigit U+FF10 full-width zero", 0xFF10},
        {"iswdigit U+00B2 superscript two", 0x00B2},
        {"iswdigit WEOF", WEOF},
    };
    for (const auto& test : not_digits) {
        begin_case(test.name);
        expect_value(static_cast<uint64_t>(iswdigit(test.unit)), 0, "iswdigit");
        end_case();
    }
}

// ---- linkage: the functions above are this image's own, not imports ----

bool same_ascii_ignoring_case(const char* left, const char* right) {
    for (;; ++left, ++right) {
        char a = (*left >= 'a' && *left <= 'z') ? static_cast<char>(*left - 32) : *left;
        char b = (*right >= 'a' && *right <= 'z') ? static_cast<char>(*right - 32) : *right;
        if (a != b) {
            return false;
        }
        if (a == 0) {
            return true;
        }
    }
}

const char* const functions_under_test[] = {"memcpy", "memmove",  "memset",   "memcmp",  "malloc",
                                            "calloc", "realloc",  "free",     "_wcsdup", "strlen",
                                            "wcslen", "_wcsicmp", "mbstowcs", "iswdigit"};

void linkage_cases() {
    auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* first = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);

    begin_case("imports come from KERNEL32 and SHELL32 alone");
    for (const IMAGE_IMPORT_DESCRIPTOR* library = first; library->Name != 0; ++library) {
        auto* name = reinterpret_cast<const char*>(base + library->Name);
        if (first_failure(same_ascii_ignoring_case(name, "KERNEL32.dll") ||
                              same_ascii_ignoring_case(name, "SHELL32.dll"),
                          "imports from ")) {
            append(case_detail, name);
        }
    }
    end_case();

    for (const char* function : functions_under_test) {
        begin_case("not imported:");
        append(case_name, " ");
        append(case_name, function);
        for (const IMAGE_IMPORT_DESCRIPTOR* library = first; library->Name != 0; ++library) {
            auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA64*>(base + library->OriginalFirstThunk);
            for (; thunk->u1.AddressOfData != 0; ++thunk) {
                if (IMAGE_SNAP_BY_ORDINAL64(thunk->u1.Ordinal)) {
                    continue;
                }
                auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
                if (first_failure(!same_ascii_ignoring_case(by_name->Name, function), "imported from ")) {
                    append(case_detail, reinterpret_cast<const char*>(base + library->Name));
                }
            }
        }
        end_case();
    }
}

struct Group {
    const wchar_t* name;
    void (*run)();
};

const Group groups[] = {
    {L"memcpy", memcpy_cases},   {L"memmove", memmove_cases},   {L"memset", memset_cases},
    {L"memcmp", memcmp_cases},   {L"heap", heap_cases},         {L"length", length_cases},
    {L"wcsicmp", wcsicmp_cases}, {L"mbstowcs", mbstowcs_cases}, {L"iswdigit", iswdigit_cases},
    {L"linkage", linkage_cases},
};

} // namespace

uint32_t run_launcher(int argument_count, wchar_t** arguments, wchar_t*) {
    bool found = false;
    for (const Group& group : groups) {
        if (argument_count == 2 && same_units(arguments[1], group.name)) {
            group.run();
            found = true;
        }
    }
    if (!found) {
        begin_case("group");
        expect(false, "name one group as the only argument");
        end_case();
    }
    Text summary;
    summary.length = 0;
    append(summary, "end ");
    append_number(summary, passed_cases, 10);
    append(summary, " ");
    append_number(summary, failed_cases, 10);
    append(summary, "\n");
    write_text(summary);
    return failed_cases;
}
