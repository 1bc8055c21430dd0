#pragma once

#include <filesystem>

// A private folder for the intermediate files of one run (mode 0700, under TMPDIR or
// /tmp); it goes away with everything in it when the object does.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The output file while it is being written: a fresh temporary name in the output's own
// folder, so that commit() can rename it into place in one step. Until then, the
// destructor removes it: a failed run leaves no output behind.
class PendingOutput {
  public:
    explicit PendingOutput(const std::filesystem::path& output);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    const std::filesystem::path& temporary_path() const { return temporary_; }
    // Gives the file the usual executable mode (0777 less the umask) and renames it.
    void commit();

  private:
    std::filesystem::path output_;
    std::filesystem::path temporary_;
    bool committed_ = false;
};
