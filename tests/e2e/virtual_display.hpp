#pragma once

// An X server of a test's own (Xvfb, in memory) for the tests that look at windows: started
// on a display number that it chooses itself among the free ones, ended with the test.

#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

class VirtualDisplay {
  public:
    // Starts Xvfb; name() is empty when it could not (not installed, or no display came up).
    VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    // Ends the server that this object started, by its process id.
    ~VirtualDisplay();

    // ":N", for DISPLAY.
    const std::string& name() const { return name_; }

    // The ids of the windows titled exactly title that are on the screen (mapped and viewable).
    std::vector<std::string> windows_titled(const std::string& title) const;
    // Saves the window's contents as a PNG file; false when that failed.
    bool screenshot(const std::string& window_id, const std::filesystem::path& file) const;

  private:
    std::string name_;
    int pid_ = -1;
};

} // namespace e2e
