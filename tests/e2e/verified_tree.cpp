#include "tests/e2e/verified_tree.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace e2e {

std::string compressible_bytes(size_t length, uint32_t seed) {
    std::string text(length, '\0');
    uint32_t state = seed * 2654435761u | 1;
    for (char& c : text) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state % 23);
    }
    return text;
}

std::string incompressible_bytes(size_t length, uint64_t seed) {
    std::string bytes(length, '\0');
    // splitmix64, eight bytes per step.
    uint64_t state = seed;
    for (size_t at = 0; at < length; at += sizeof(uint64_t)) {
        uint64_t value = (state += 0x9E3779B97F4A7C15ull);
        value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
        value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
        value ^= value >> 31;
        std::memcpy(bytes.data() + at, &value, std::min(sizeof value, length - at));
    }
    return bytes;
}

void VerifiedTree::add(const std::string& relative, const std::string& contents) {
    write_file(folder / relative, contents);
    files.push_back({relative, contents});
    std::string windows_name = relative;
    std::replace(windows_name.begin(), windows_name.end(), '/', '\\');
    char line[128];
    std::snprintf(
        line, sizeof line, "%08lX %zu %s\n",
        crc32(0, reinterpret_cast<const Bytef*>(contents.data()), static_cast<uInt>(contents.size())),
        contents.size(), windows_name.c_str());
    manifest += line;
}

void VerifiedTree::write_manifest() const {
    write_file(folder / manifest_name, manifest);
}

void expect_exact_tree_seen(const Outcome& outcome, uint32_t status, const std::string& what,
                            size_t file_count) {
    EXPECT_EQ(outcome.exit_code, status) << what << "\n" << outcome.out << outcome.err;
    EXPECT_EQ(outcome.err, "") << what;
    ProbeReport report = parse_probe_report(outcome.out);
    EXPECT_TRUE(report.complete) << what << "\n" << outcome.out;
    EXPECT_EQ(report.fields["tree"], "exact") << what << "\n" << outcome.out;
    if (file_count != 0) {
        EXPECT_EQ(report.fields["tree-files"], std::to_string(file_count)) << what;
    }
}

} // namespace e2e
