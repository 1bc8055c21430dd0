#pragma once

// App folders whose every file the probe checks (--verify-tree) against a manifest of
// CRC-32 values packed with them, and the check of what the probe then reported.

#include "tests/e2e/e2e_support.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

constexpr char manifest_name[] = "manifest.txt";

// Deterministic bytes that compress about half: images stay small, decoding stays real.
std::string compressible_bytes(size_t length, uint32_t seed);
// Deterministic bytes that do not compress: the image is as big as the app, and so is the
// work of a cold start.
std::string incompressible_bytes(size_t length, uint64_t seed);

struct VerifiedTree {
    std::filesystem::path folder;
    std::vector<std::pair<std::string, std::string>> files; // relative name with '/', contents
    std::string manifest;

    // Writes the file into the folder and lists it in the manifest.
    void add(const std::string& relative, const std::string& contents);
    void write_manifest() const;
};

// A start whose child ran and found the tree exact: the launcher's status is the child's,
// it printed nothing of its own; with file_count, the probe checked that many files.
void expect_exact_tree_seen(const Outcome& outcome, uint32_t status, const std::string& what,
                            size_t file_count = 0);

} // namespace e2e
