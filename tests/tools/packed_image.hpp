#pragma once

#include "tests/tools/test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

// A tiny application: the stub image as its executable and a few other files.
class PackedImage : public ::testing::Test {
  protected:
    void SetUp() override;

    // Packs the app folder into output with the reference build's names, then the extra arguments.
    ToolResult pack(const std::filesystem::path& output, std::vector<std::string> extra = {});

    ScratchFolder app, out, temp;
};
