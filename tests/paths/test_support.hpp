#pragma once

#include <windows.h>

#include <string>

#include "tests/support/module_file_name_seam.hpp"

// Status of the limit stop and of the abnormal stop after an expansion message.
constexpr int limit_stop_status = 3;

// Keeps a variable's value (or its absence) and puts it back at the end of a test.
class SavedVariable {
  public:
    explicit SavedVariable(const wchar_t* name);
    ~SavedVariable();
    SavedVariable(const SavedVariable&) = delete;
    SavedVariable& operator=(const SavedVariable&) = delete;

  private:
    std::wstring name_;
    std::wstring value_;
    bool was_set_ = false;
};

// The variable's value as the system holds it; false when it is not set.
bool system_variable(const wchar_t* name, std::wstring& value);

// Stands in a launcher path for GetModuleFileNameW while it lives, counting the lookups.
// It behaves like the real call: a path that does not fit comes back cut, terminated, with
// the capacity as result; an empty path stands for a failed call (result 0).
class FakeModulePath {
  public:
    explicit FakeModulePath(const wchar_t* path);
    ~FakeModulePath();
    FakeModulePath(const FakeModulePath&) = delete;
    FakeModulePath& operator=(const FakeModulePath&) = delete;

    static int calls;

  private:
    ModuleFileNameCall saved_;
};

// A shell folder as the system gives it, trailing backslashes removed.
std::wstring shell_folder_without_trailing_backslashes(int folder);
